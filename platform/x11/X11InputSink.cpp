#include "platform/x11/X11InputSink.h"

#include "platform/core/Utf8.h"
#include "platform/log/Log.h"
#include "platform/x11/SpareKeycodesRecord.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11PropertyReply.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstring>
#include <vector>

namespace velm {
namespace {

const Log x11InputSinkLog("input");

constexpr std::uint16_t capsLockKeyCode = 57;
// Other buttons (the injector's 3 and up: back, forward, ...) start at X's button 8.
constexpr unsigned int firstOtherButton = 8;
constexpr unsigned int wheelUp = 4;
constexpr unsigned int wheelDown = 5;
constexpr unsigned int wheelLeft = 6;
constexpr unsigned int wheelRight = 7;
// Of a key's keysyms, the first two are the two levels of the first group; a spare key gets the
// character on both, so shift does not change it.
constexpr int typedLevels = 2;
// The root window's property that records the spare keys lent out (SpareKeycodesRecord).
constexpr const char* lentKeysProperty = "_VELM_SPARE_KEYS";

bool isDown(InputEventSink::MouseType type) {
    using enum InputEventSink::MouseType;
    return type == leftDown || type == rightDown || type == otherDown;
}

bool isUp(InputEventSink::MouseType type) {
    using enum InputEventSink::MouseType;
    return type == leftUp || type == rightUp || type == otherUp;
}

// XTest carries 16-bit coordinates; the server keeps the pointer on its screens anyway.
int coordinate(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<int>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

// The keysym that types a code point: Latin-1 keysyms are the code points themselves, every other
// character has its Unicode keysym. Control characters type nothing, except a tab.
std::optional<unsigned long> keysymForCodePoint(char32_t point) {
    if (point == U'\t') {
        return XK_Tab;
    }
    if (point < 0x20 || (point >= 0x7F && point < 0xA0)) {
        return std::nullopt;
    }
    if (point < 0x100) {
        return point;
    }
    return 0x1000000UL + point;
}

bool isEmpty(const KeySym* syms, int perKey) {
    return std::all_of(syms, syms + perKey, [](KeySym sym) { return sym == NoSymbol; });
}

// Whether a key's keysyms are just `keysym` as a spare key was given it. The server may show it in
// more places than it was given (XKB repeats the first group's in the second group's columns), but
// nothing else.
bool holdsJust(const KeySym* syms, int perKey, unsigned long keysym) {
    return perKey > 0 && syms[0] == keysym && std::all_of(syms, syms + perKey, [keysym](KeySym sym) {
               return sym == keysym || sym == NoSymbol;
           });
}

} // namespace

X11InputSink::X11InputSink(double doubleClickInterval)
    : doubleClickInterval_(doubleClickInterval), connection_(X11Connection::open()) {
    if (!connection_) {
        return;
    }
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(connection_->display(), &event, &error, &major, &minor)) {
        x11InputSinkLog.error("the x server has no xtest: input cannot be played back");
        connection_.reset();
        return;
    }
    watchMapChanges();
    keys_.emplace(connection_->display());
    lentKeysRecord_ = connection_->atom(lentKeysProperty);
    findXtestDevices();
    findSpareKeycodes(false);
}

X11InputSink::~X11InputSink() {
    if (isUsable()) {
        followMapChanges();
        emptySpareKeys();
    }
}

bool X11InputSink::isUsable() const {
    return connection_ && !connection_->isLost();
}

// The XTEST devices of the master pointer and keyboard that XTest's events go through: the pointer's
// buttons bound what can be pressed, and both are asked what they hold when everything is let go.
void X11InputSink::findXtestDevices() {
    Display* display = connection_->display();
    int major = 2;
    int minor = 0;
    int master = 0;
    if (XIQueryVersion(display, &major, &minor) != Success || !XIGetClientPointer(display, None, &master)) {
        x11InputSinkLog.error("the x server has no xinput 2: only three buttons can be pressed");
        return;
    }
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    // A connection lost since the version check answers with no list, which XIFreeDeviceInfo cannot take.
    if (devices == nullptr) {
        return;
    }
    int masterKeyboard = -1;
    for (int index = 0; index < count; ++index) {
        if (devices[index].deviceid == master) {
            masterKeyboard = devices[index].attachment;
        }
    }
    for (int index = 0; index < count; ++index) {
        const XIDeviceInfo& device = devices[index];
        if (!std::strstr(device.name, "XTEST")) {
            continue;
        }
        if (device.use == XISlavePointer && device.attachment == master) {
            xtestPointer_ = device.deviceid;
            for (int kind = 0; kind < device.num_classes; ++kind) {
                if (device.classes[kind]->type == XIButtonClass) {
                    buttonCount_ =
                        reinterpret_cast<const XIButtonClassInfo*>(device.classes[kind])->num_buttons;
                }
            }
        } else if (device.use == XISlaveKeyboard && device.attachment == masterKeyboard) {
            xtestKeyboard_ = device.deviceid;
        }
    }
    XIFreeDeviceInfo(devices);
}

// Keys with no keysym at all and no modifier: no physical key of this keyboard types them. A key
// that holds just what this sink lent it stays spare, with its loan.
void X11InputSink::findSpareKeycodes(bool sameTable) {
    Display* display = connection_->display();
    int lowest = 0;
    int highest = 0;
    XDisplayKeycodes(display, &lowest, &highest);
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(lowest), highest - lowest + 1, &keysymsPerKeycode_);
    XModifierKeymap* modifiers = XGetModifierMapping(display);
    const auto lent = spareKeys_.lentKeys();
    if (!map || !modifiers) {
        x11InputSinkLog.error("the keyboard map cannot be read: text cannot be typed");
        spareKeys_ = SpareKeycodes();
    } else {
        const auto perKey = static_cast<std::size_t>(keysymsPerKeycode_);
        const KeyCode* modifierKeys = modifiers->modifiermap;
        const KeyCode* modifierEnd = modifierKeys + 8 * modifiers->max_keypermod;
        std::vector<std::uint8_t> spare;
        std::vector<SpareKeycodes::Loan> kept;
        for (int keycode = lowest; keycode <= highest; ++keycode) {
            const KeySym* syms = map + static_cast<std::size_t>(keycode - lowest) * perKey;
            if (std::find(modifierKeys, modifierEnd, keycode) != modifierEnd) {
                continue;
            }
            const auto loan =
                std::find_if(lent.begin(), lent.end(),
                             [keycode](const SpareKeycodes::Loan& item) { return item.keycode == keycode; });
            if (loan != lent.end() && holdsJust(syms, keysymsPerKeycode_, loan->keysym)) {
                kept.push_back(*loan);
            } else if (!isEmpty(syms, keysymsPerKeycode_)) {
                continue;
            }
            spare.push_back(static_cast<std::uint8_t>(keycode));
        }
        const bool samePool = spare == spareKeys_.keycodes();
        spareKeys_ = SpareKeycodes(std::move(spare), kept, spareKeys_.nextKey());
        if (kept.size() < lent.size()) {
            // Keys the change gave symbols of its own are no longer this sink's to empty.
            std::vector<SpareKeycodes::Loan> lost;
            std::copy_if(lent.begin(), lent.end(), std::back_inserter(lost),
                         [&kept](const SpareKeycodes::Loan& loan) {
                             return std::find(kept.begin(), kept.end(), loan) == kept.end();
                         });
            rewriteRecord(lost, true);
        }
        const auto pool = spareKeys_.keycodes();
        if (pool.empty()) {
            x11InputSinkLog.error("the keyboard map has no spare key: text cannot be typed");
        } else if (!samePool || !sameTable) {
            // An Xlib application misses the first change of the keyboard map after it read the map,
            // and the changes that come before it handled that one. A change that changes nothing,
            // made now, uses that up long before any character depends on it.
            giveKey(pool.back(), *spareKeys_.keysymOf(pool.back()));
            XFlush(display);
        }
    }
    if (map) {
        XFree(map);
    }
    if (modifiers) {
        XFreeModifiermap(modifiers);
    }
}

void X11InputSink::watchMapChanges() {
    Display* display = connection_->display();
    int opcode = 0;
    int error = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &xkbEventBase_, &error, &major, &minor)) {
        // Without XKB the server sends every client the core notices unasked.
        xkbEventBase_ = -1;
        return;
    }
    constexpr unsigned long details = XkbKeySymsMask | XkbModifierMapMask;
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbMapNotify, details, details);
    XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask, XkbNewKeyboardNotifyMask);
}

void X11InputSink::followMapChanges() {
    Display* display = connection_->display();
    std::bitset<256> named;
    const auto name = [&named](int first, int count) {
        for (int keycode = std::max(first, 0); keycode < std::min(first + count, 256); ++keycode) {
            named.set(static_cast<std::size_t>(keycode));
        }
    };
    // Another keyboard, new modifiers: everything is read again.
    bool remapped = false;
    // Only the notices asked for come on this connection, and the core ones that come with them.
    // Reading does not wait.
    while (XEventsQueued(display, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            if (event.xmapping.request == MappingModifier) {
                remapped = true;
            } else if (event.xmapping.request == MappingKeyboard) {
                name(event.xmapping.first_keycode, event.xmapping.count);
            }
        } else if (event.type == xkbEventBase_) {
            const auto& notice = reinterpret_cast<const XkbEvent&>(event);
            if (notice.any.xkb_type == XkbNewKeyboardNotify) {
                remapped = true;
            } else if (notice.any.xkb_type == XkbMapNotify) {
                remapped = remapped || (notice.map.changed & XkbModifierMapMask) != 0;
                if ((notice.map.changed & XkbKeySymsMask) != 0) {
                    name(notice.map.first_key_sym, notice.map.num_key_syms);
                }
            }
        }
    }
    if (named.none() && !remapped) {
        return; // the way of nearly every key: nothing changed
    }
    std::vector<std::uint8_t> keycodes;
    for (std::size_t keycode = 0; keycode < named.size(); ++keycode) {
        if (named.test(keycode)) {
            keycodes.push_back(static_cast<std::uint8_t>(keycode));
        }
    }
    // The sink's own changes leave every spare key as it believes; anything else is someone else's.
    if (!remapped && spareKeysAsBelieved(keycodes)) {
        return;
    }
    // A change may also be no change at all: the server announces a new keyboard whenever another of
    // its keyboards (the local one, the XTEST one) types.
    const X11KeyTable table(display);
    const bool sameTable = table == *keys_;
    keys_ = table;
    findSpareKeycodes(sameTable);
}

bool X11InputSink::spareKeysAsBelieved(const std::vector<std::uint8_t>& keycodes) const {
    for (const std::uint8_t keycode : keycodes) {
        const auto believed = spareKeys_.keysymOf(keycode);
        if (!believed) {
            return false;
        }
        int perKey = 0;
        KeySym* held = XGetKeyboardMapping(connection_->display(), keycode, 1, &perKey);
        if (!held) {
            return false;
        }
        const bool asBelieved =
            *believed == NoSymbol ? isEmpty(held, perKey) : holdsJust(held, perKey, *believed);
        XFree(held);
        if (!asBelieved) {
            return false;
        }
    }
    return true;
}

void X11InputSink::giveKey(std::uint8_t keycode, unsigned long keysym) {
    std::vector<KeySym> syms(static_cast<std::size_t>(keysymsPerKeycode_), NoSymbol);
    if (keysym != NoSymbol) {
        std::fill_n(syms.begin(), std::min(typedLevels, keysymsPerKeycode_), keysym);
    }
    XChangeKeyboardMapping(connection_->display(), keycode, keysymsPerKeycode_, syms.data(), 1);
}

std::optional<unsigned int> X11InputSink::xButton(std::uint8_t button) const {
    switch (button) {
    case 0:
        return 1;
    case 1:
        return 3;
    case 2:
        return 2;
    default:
        break;
    }
    const unsigned int number = firstOtherButton + (button - 3u);
    if (number > static_cast<unsigned int>(buttonCount_)) {
        return std::nullopt;
    }
    return number;
}

void X11InputSink::moveTo(Location location) {
    Display* display = connection_->display();
    XTestFakeMotionEvent(display, DefaultScreen(display), coordinate(location.x), coordinate(location.y),
                         CurrentTime);
}

void X11InputSink::postMouse(const MouseEvent& event) {
    const bool followsWarp = warpedTo_ == event.location;
    warpedTo_.reset();
    if (!isUsable()) {
        return;
    }
    if (!isDown(event.type) && !isUp(event.type)) {
        if (!followsWarp) {
            moveTo(event.location);
            XFlush(connection_->display());
        }
        return;
    }
    const auto button = xButton(event.button);
    if (!button) {
        x11InputSinkLog.debug("button %d dropped: the xtest pointer has %d", int(event.button), buttonCount_);
        return;
    }
    // A click lands where the injector believes the pointer is, wherever the local mouse took it.
    moveTo(event.location);
    XTestFakeButtonEvent(connection_->display(), *button, isDown(event.type), CurrentTime);
    XFlush(connection_->display());
}

void X11InputSink::postKey(const KeyEvent& event) {
    warpedTo_.reset();
    if (!isUsable()) {
        return;
    }
    followMapChanges();
    // A key goes up on the key it went down on, whatever the map says now.
    const auto held = keysHeld_.find(event.keyCode);
    const auto keycode = held != keysHeld_.end() ? held->second
                         : event.down            ? keycodeToPress(event.keyCode)
                                                 : keys_->keycode(event.keyCode);
    if (!keycode) {
        x11InputSinkLog.debug("key %d dropped: not on the keyboard map", int(event.keyCode));
        return;
    }
    if (event.down) {
        noteLock(event.keyCode);
        keysHeld_.emplace(event.keyCode, *keycode);
    } else if (held != keysHeld_.end()) {
        keysHeld_.erase(held);
    }
    XTestFakeKeyEvent(connection_->display(), *keycode, event.down, CurrentTime);
    XFlush(connection_->display());
}

void X11InputSink::postFlagsChanged(const KeyEvent& event) {
    if (event.keyCode == capsLockKeyCode) {
        warpedTo_.reset();
        if (isUsable()) {
            switchCapsLock(event.down);
        }
        return;
    }
    postKey(event);
}

// Caps lock is a lock, not a held key: its key toggles it, and only when it is not as wanted already
// (the local keyboard may have toggled it meanwhile).
void X11InputSink::switchCapsLock(bool on) {
    followMapChanges();
    const auto isOn = capsLockIsOn();
    const auto keycode = keys_->keycode(capsLockKeyCode);
    if (isOn && *isOn != on && keycode) {
        pressAndRelease(*keycode);
        XFlush(connection_->display());
    }
}

std::optional<bool> X11InputSink::capsLockIsOn() const {
    XkbStateRec state{};
    if (XkbGetState(connection_->display(), XkbUseCoreKbd, &state) != Success) {
        return std::nullopt;
    }
    return (state.locked_mods & LockMask) != 0;
}

void X11InputSink::postScroll(const ScrollEvent& event) {
    warpedTo_.reset();
    if (!isUsable()) {
        return;
    }
    const int up = vertical_.add(event.vertical);
    const int left = horizontal_.add(event.horizontal);
    click(up > 0 ? wheelUp : wheelDown, std::abs(up));
    if (buttonCount_ >= static_cast<int>(wheelRight)) {
        click(left > 0 ? wheelLeft : wheelRight, std::abs(left));
    }
    XFlush(connection_->display());
}

void X11InputSink::click(unsigned int button, int times) {
    for (int count = 0; count < times; ++count) {
        XTestFakeButtonEvent(connection_->display(), button, True, CurrentTime);
        XTestFakeButtonEvent(connection_->display(), button, False, CurrentTime);
    }
}

void X11InputSink::postText(std::string_view character) {
    warpedTo_.reset();
    if (!isUsable()) {
        return;
    }
    // Applications read a locked caps lock as a wish for capitals, but the text is as the client
    // sent it: the lock is lifted while it is typed.
    Display* display = connection_->display();
    const bool lifted = capsLockIsOn().value_or(false);
    if (lifted) {
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
    }
    const auto letUp = letUpShortcutModifiers();
    for (const char32_t point : Utf8::codePoints(character)) {
        if (const auto keysym = keysymForCodePoint(point)) {
            typeKeysym(*keysym);
        }
    }
    for (const std::uint8_t keycode : letUp) {
        XTestFakeKeyEvent(display, keycode, True, CurrentTime);
    }
    if (lifted) {
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    }
    XFlush(display);
}

// Control, alt or super held would make a shortcut of a character (control and "w" closes a window).
// Shift changes no spare key, and the locks are locks.
std::vector<std::uint8_t> X11InputSink::letUpShortcutModifiers() {
    std::vector<std::uint8_t> letUp;
    for (const auto& [keyCode, keycode] : keysHeld_) {
        const auto keysym = X11KeyTable::keysym(keyCode);
        if (keysym && IsModifierKey(*keysym) && *keysym != XK_Shift_L && !lockOf(keyCode)) {
            XTestFakeKeyEvent(connection_->display(), keycode, False, CurrentTime);
            letUp.push_back(keycode);
        }
    }
    return letUp;
}

void X11InputSink::typeKeysym(unsigned long keysym) {
    if (const auto keycode = spareKeyFor(keysym)) {
        pressAndRelease(*keycode);
    }
}

std::optional<std::uint8_t> X11InputSink::spareKeyFor(unsigned long keysym) {
    followMapChanges();
    const auto choice = spareKeys_.keyFor(keysym);
    if (!choice) {
        return std::nullopt;
    }
    if (choice->changesMap) {
        // Recorded first, so that a host that dies any time after the change leaves a record of it.
        recordLentKeys();
        giveKey(choice->keycode, keysym);
    }
    return choice->keycode;
}

std::optional<std::uint8_t> X11InputSink::keycodeToPress(std::uint16_t keyCode) {
    if (const auto keycode = keys_->keycode(keyCode)) {
        return keycode;
    }
    // A spare key holding a modifier's keysym would modify nothing: the map binds no modifier to it.
    const auto keysym = X11KeyTable::keysym(keyCode);
    if (!keysym || IsModifierKey(*keysym)) {
        return std::nullopt;
    }
    return spareKeyFor(*keysym);
}

void X11InputSink::recordLentKeys() {
    rewriteRecord(spareKeys_.lentKeys(), false);
}

// Sessions overlap while one replaces another, so the record holds the loans of every sink on the
// display: a sink rewrites only the items of its own keys, with the server grabbed so that two sinks
// never interleave their rewrites.
void X11InputSink::rewriteRecord(const std::vector<SpareKeycodes::Loan>& own, bool givenBack) {
    Display* display = connection_->display();
    XGrabServer(display);
    std::vector<SpareKeycodes::Loan> loans = givenBack ? std::vector<SpareKeycodes::Loan>{} : own;
    for (const SpareKeycodes::Loan& recorded : recordedLoans().value_or(std::vector<SpareKeycodes::Loan>{})) {
        const bool isOwn = std::any_of(own.begin(), own.end(), [&recorded](const SpareKeycodes::Loan& loan) {
            return loan.keycode == recorded.keycode;
        });
        if (!isOwn) {
            loans.push_back(recorded);
        }
    }
    if (loans.empty()) {
        XDeleteProperty(display, connection_->root(), lentKeysRecord_);
    } else {
        const auto items = SpareKeycodesRecord::encode(loans);
        // Xlib takes 32-bit items in longs.
        const std::vector<long> longs(items.begin(), items.end());
        XChangeProperty(display, connection_->root(), lentKeysRecord_, XA_INTEGER, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(longs.data()), static_cast<int>(longs.size()));
    }
    XUngrabServer(display);
}

void X11InputSink::pressAndRelease(std::uint8_t keycode) {
    XTestFakeKeyEvent(connection_->display(), keycode, True, CurrentTime);
    XTestFakeKeyEvent(connection_->display(), keycode, False, CurrentTime);
}

void X11InputSink::warp(Location location) {
    warpedTo_.reset();
    if (!isUsable()) {
        return;
    }
    moveTo(location);
    XFlush(connection_->display());
    warpedTo_ = location;
}

std::optional<InputEventSink::Location> X11InputSink::cursorLocation() {
    if (!isUsable()) {
        return std::nullopt;
    }
    // Read every few hundred milliseconds while a screen is streamed: the notices of map changes are
    // taken in here too, also in a session that types nothing.
    followMapChanges();
    const auto position = connection_->pointerPosition();
    if (!position) {
        return std::nullopt;
    }
    return Location{double(position->x), double(position->y)};
}

void X11InputSink::releaseAll() {
    warpedTo_.reset();
    if (!isUsable()) {
        return;
    }
    releaseHeldBy(xtestPointer_);
    releaseHeldBy(xtestKeyboard_);
    keysHeld_.clear();
    restoreLocks();
    followMapChanges();
    emptySpareKeys();
}

void X11InputSink::emptyKeysAnEarlierHostKept() {
    if (isUsable() && emptyRecordedKeys()) {
        // The keys given back belong to the pool again.
        findSpareKeycodes(true);
    }
}

// Asks the device itself (XInput 1 state), so that keys and buttons pressed by an earlier host that
// ended without letting go are released too.
void X11InputSink::releaseHeldBy(int device) {
    if (device < 0) {
        return;
    }
    Display* display = connection_->display();
    X11ErrorTrap trap(display);
    XDevice* opened = XOpenDevice(display, static_cast<XID>(device));
    if (!opened) {
        return;
    }
    if (XDeviceState* state = XQueryDeviceState(display, opened)) {
        const XInputClass* item = state->data;
        for (int index = 0; index < state->num_classes; ++index) {
            if (item->c_class == KeyClass) {
                const auto* keys = reinterpret_cast<const XKeyState*>(item);
                for (int keycode = 8; keycode < 256; ++keycode) {
                    if (keys->keys[keycode / 8] & (1 << (keycode % 8))) {
                        XTestFakeKeyEvent(display, static_cast<unsigned int>(keycode), False, CurrentTime);
                    }
                }
            } else if (item->c_class == ButtonClass) {
                const auto* buttons = reinterpret_cast<const XButtonState*>(item);
                for (int button = 1; button < 256; ++button) {
                    if (buttons->buttons[button / 8] & (1 << (button % 8))) {
                        XTestFakeButtonEvent(display, static_cast<unsigned int>(button), False, CurrentTime);
                    }
                }
            }
            item = reinterpret_cast<const XInputClass*>(reinterpret_cast<const char*>(item) + item->length);
        }
        XFreeDeviceState(state);
    }
    XCloseDevice(display, opened);
}

std::optional<unsigned int> X11InputSink::lockOf(std::uint16_t keyCode) const {
    const auto keysym = X11KeyTable::keysym(keyCode);
    if (keysym == XK_Caps_Lock) {
        return LockMask;
    }
    if (keysym == XK_Num_Lock) {
        // Num lock is whichever modifier the map binds it to; none, and it switches nothing.
        if (const unsigned int mask = XkbKeysymToModifiers(connection_->display(), XK_Num_Lock)) {
            return mask;
        }
    }
    return std::nullopt;
}

void X11InputSink::noteLock(std::uint16_t keyCode) {
    const auto mask = lockOf(keyCode);
    if (!mask || locksFound_.contains(*mask)) {
        return;
    }
    XkbStateRec state{};
    if (XkbGetState(connection_->display(), XkbUseCoreKbd, &state) == Success) {
        locksFound_.emplace(*mask, (state.locked_mods & *mask) != 0);
    }
}

void X11InputSink::restoreLocks() {
    for (const auto& [mask, wasOn] : locksFound_) {
        XkbLockModifiers(connection_->display(), XkbUseCoreKbd, mask, wasOn ? mask : 0);
    }
    locksFound_.clear();
}

// Empties the keys that a host which ended without giving them back recorded, those that still hold
// just what it gave them: a key the user mapped since is theirs now. Whatever the record held, it is
// gone afterwards. True when a key was emptied.
bool X11InputSink::emptyRecordedKeys() {
    Display* display = connection_->display();
    const auto loans = recordedLoans();
    if (!loans) {
        x11InputSinkLog.info("the record of lent spare keys is not one of ours: ignored");
    }
    int lowest = 0;
    int highest = 0;
    XDisplayKeycodes(display, &lowest, &highest);
    bool emptiedAny = false;
    for (const SpareKeycodes::Loan& loan : loans.value_or(std::vector<SpareKeycodes::Loan>{})) {
        if (loan.keycode < lowest || loan.keycode > highest) {
            continue;
        }
        int perKey = 0;
        KeySym* held = XGetKeyboardMapping(display, loan.keycode, 1, &perKey);
        if (!held) {
            continue;
        }
        const bool asLent = holdsJust(held, perKey, loan.keysym);
        XFree(held);
        if (asLent) {
            std::vector<KeySym> empty(static_cast<std::size_t>(perKey), NoSymbol);
            XChangeKeyboardMapping(display, loan.keycode, perKey, empty.data(), 1);
            emptiedAny = true;
        }
    }
    XDeleteProperty(display, connection_->root(), lentKeysRecord_);
    return emptiedAny;
}

std::optional<std::vector<SpareKeycodes::Loan>> X11InputSink::recordedLoans() const {
    X11PropertyReply reply;
    const auto longest = static_cast<long>(2 * SpareKeycodesRecord::maxLoans);
    if (XGetWindowProperty(connection_->display(), connection_->root(), lentKeysRecord_, 0, longest, False,
                           XA_INTEGER, &reply.type, &reply.format, &reply.count, &reply.remaining,
                           &reply.data) != Success ||
        reply.type == None) {
        return std::vector<SpareKeycodes::Loan>{};
    }
    if (!reply.holds(XA_INTEGER, 32) || reply.remaining != 0) {
        return std::nullopt;
    }
    const auto* items = reinterpret_cast<const long*>(reply.data);
    const std::vector<unsigned long> values(items, items + reply.count);
    return SpareKeycodesRecord::decode(values);
}

void X11InputSink::emptySpareKeys() {
    const auto lent = spareKeys_.lentKeys();
    for (const SpareKeycodes::Loan& loan : lent) {
        giveKey(loan.keycode, NoSymbol);
    }
    if (!lent.empty()) {
        rewriteRecord(lent, true);
    }
    spareKeys_.reset();
    // Waits until the server has handled everything sent so far: once this returns, nothing is held
    // and every other client sees the keyboard map as it was.
    XSync(connection_->display(), False);
}

} // namespace velm
