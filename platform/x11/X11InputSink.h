#pragma once

#include "platform/display/InputEventSink.h"
#include "platform/x11/SpareKeycodes.h"
#include "platform/x11/WheelAccumulator.h"
#include "platform/x11/X11KeyTable.h"

#include <map>
#include <memory>
#include <optional>

namespace velm {

class X11Connection;

// Injected input through the XTEST extension, on a connection of its own. Applications receive it as
// the events of the server's XTEST devices, which is how the curtain tells it from the user's own
// input. Coordinates are those of the root window.
//
// - Buttons: left 1, middle 2, right 3, any other from 8 up (never a wheel button), as far as the
//   XTEST pointer has buttons; the rest is dropped. Moves and drags are plain motion: X has no drag
//   event, and no click state either (applications count clicks themselves).
// - Keys through X11KeyTable; a key whose keysym this layout has on no key's first level is lent a
//   spare key with that keysym while it is held (modifier and lock keys excepted). Command, option, control
//   and shift hold the left-hand modifier keys, caps lock is switched on and off with its key, the function
//   modifier has no key. Modifier flags on events are not needed: X reads them from the keys held. Held keys
//   repeat by the server's own auto-repeat, as a real keyboard's do. Caps lock and num lock pressed as keys
//   stay switched, as on a real keyboard, until releaseAll puts each back as it was before the sink first
//   switched it.
// - Scrolling becomes wheel clicks (buttons 4 and 5, 6 and 7) through a WheelAccumulator per axis.
// - Text is typed on spare keys given the character's keysym (SpareKeycodes), with caps lock lifted
//   and the held control, alt and super keys let up meanwhile (text is not a shortcut); releaseAll and the
//   destructor empty them again, and return once the server has done so. The keys lent are recorded on the
//   display (SpareKeycodesRecord) while they are, so that a host that starts can empty those an earlier one
//   kept when it ended without giving them back.
// - The keyboard map may change under a session (another layout selected, a program remapping keys):
//   the server's notices of it are followed before each key, so keys type what they stand for on the
//   new map, a key goes up on the key it went down on, and a spare key the change gave symbols of its
//   own leaves the pool, never to be typed on or emptied by this sink.
//
// Without a desktop or XTEST every post does nothing and the pointer cannot be read. Not thread-safe:
// one caller (queue) at a time.
class X11InputSink final : public InputEventSink {
public:
    // X applications count a second click within this many seconds as a double click unless the
    // user's desktop settings say otherwise (GTK's and Qt's default).
    static constexpr double defaultDoubleClickInterval = 0.4;

    // `doubleClickInterval` is the desktop's (DoubleClickInterval), which the sink cannot read itself.
    explicit X11InputSink(double doubleClickInterval = defaultDoubleClickInterval);
    ~X11InputSink() override;
    X11InputSink(const X11InputSink&) = delete;
    X11InputSink& operator=(const X11InputSink&) = delete;

    void postMouse(const MouseEvent& event) override;
    void postKey(const KeyEvent& event) override;
    void postFlagsChanged(const KeyEvent& event) override;
    void postScroll(const ScrollEvent& event) override;
    void postText(std::string_view character) override;
    void warp(Location location) override;
    std::optional<Location> cursorLocation() override;
    double doubleClickInterval() override { return doubleClickInterval_; }
    void releaseAll() override;
    // At start only: empties the spare keys an earlier host recorded and never gave back. Not at a
    // session's end, when another sink on the display may have keys of its own in the record.
    void emptyKeysAnEarlierHostKept();

private:
    // The X button of a button number; nothing for one the XTEST pointer lacks.
    std::optional<unsigned int> xButton(std::uint8_t button) const;
    bool isUsable() const;
    void findXtestDevices();
    // A change that changes nothing follows, for the applications' sake, unless the pool and the
    // key table (`sameTable`) are as before.
    void findSpareKeycodes(bool sameTable);
    // Asks the server for notices of keyboard map changes: an Xlib client that has not read the map
    // through XKB hears of none.
    void watchMapChanges();
    // Reads the notices of keyboard map changes that came, the sink's own among them (every client
    // hears of every change, and unread they would pile up on the connection); after a change that is
    // not just the sink's own, the key table and the spare keys are read again.
    void followMapChanges();
    // Whether each of these keys is a spare key holding just what the sink believes it does.
    bool spareKeysAsBelieved(const std::vector<std::uint8_t>& keycodes) const;
    // Puts `keysym` on the typed levels of a key and nothing else; NoSymbol empties it.
    void giveKey(std::uint8_t keycode, unsigned long keysym);
    void moveTo(Location location);
    void click(unsigned int button, int times);
    void pressAndRelease(std::uint8_t keycode);
    void typeKeysym(unsigned long keysym);
    // A spare key holding `keysym`, given it first when needed; nothing without spare keys.
    std::optional<std::uint8_t> spareKeyFor(unsigned long keysym);
    // The key a key code goes down on: its key in the table, else a spare key given its keysym.
    std::optional<std::uint8_t> keycodeToPress(std::uint16_t keyCode);
    void switchCapsLock(bool on);
    // Lets up the held modifier keys that would turn typed text into shortcuts; their keycodes, to be
    // pressed again after it.
    std::vector<std::uint8_t> letUpShortcutModifiers();
    // Nothing when the keyboard's state cannot be read.
    std::optional<bool> capsLockIsOn() const;
    void releaseHeldBy(int device);
    // The modifier mask a lock key (caps lock, num lock) switches; nothing for any other key.
    std::optional<unsigned int> lockOf(std::uint16_t keyCode) const;
    // Before a key first switches a lock: how the lock is now, to be put back.
    void noteLock(std::uint16_t keyCode);
    void restoreLocks();
    void recordLentKeys();
    // Puts `own` on the record in place of what it said of those keys, or takes them off it when
    // they are `givenBack`; the other sinks' loans stay.
    void rewriteRecord(const std::vector<SpareKeycodes::Loan>& own, bool givenBack);
    // The loans on the record, none when there is no record; nothing when it is not one of ours.
    std::optional<std::vector<SpareKeycodes::Loan>> recordedLoans() const;
    bool emptyRecordedKeys();
    void emptySpareKeys();

    double doubleClickInterval_;
    std::unique_ptr<X11Connection> connection_;
    std::optional<X11KeyTable> keys_;
    SpareKeycodes spareKeys_;
    // The atom of the root window's property that records the keys lent out.
    unsigned long lentKeysRecord_ = 0;
    int keysymsPerKeycode_ = 0;
    // The first event number of the XKB extension; -1 without it.
    int xkbEventBase_ = -1;
    int buttonCount_ = 3;
    int xtestPointer_ = -1;
    int xtestKeyboard_ = -1;
    WheelAccumulator vertical_;
    WheelAccumulator horizontal_;
    // Where the last warp put the pointer, until the next post: the move event that follows a warp to
    // the same place needs no motion of its own.
    std::optional<Location> warpedTo_;
    // The keys down, by key code, with the keycode each went down on.
    std::map<std::uint16_t, std::uint8_t> keysHeld_;
    // The locks the sink's keys switched (by modifier mask), each with whether it was on before.
    std::map<unsigned int, bool> locksFound_;
};

} // namespace velm
