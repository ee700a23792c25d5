#include "tests/support/X11InputRecorder.h"

#include "tests/support/X11TestDesktop.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cstdlib>
#include <thread>

namespace velm::test {
namespace {

X11InputRecorder::Received fromEvent(XEvent& event) {
    using Kind = X11InputRecorder::Kind;
    switch (event.type) {
    case KeyPress:
    case KeyRelease: {
        KeySym keysym = NoSymbol;
        char text[16];
        XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
        return {event.type == KeyPress ? Kind::keyPress : Kind::keyRelease,
                event.xkey.keycode,
                keysym,
                event.xkey.x_root,
                event.xkey.y_root,
                event.xkey.state};
    }
    case ButtonPress:
    case ButtonRelease:
        return {event.type == ButtonPress ? Kind::buttonPress : Kind::buttonRelease,
                event.xbutton.button,
                0,
                event.xbutton.x_root,
                event.xbutton.y_root,
                event.xbutton.state};
    default:
        return {Kind::motion, 0, 0, event.xmotion.x_root, event.xmotion.y_root, event.xmotion.state};
    }
}

} // namespace

std::unique_ptr<X11InputRecorder> X11InputRecorder::open(std::string& reason) {
    if (!std::getenv("VELM_TEST_X11")) {
        reason = "no sandboxed X server; run under scripts/x11-sandbox.sh (VELM_TEST_X11)";
        return nullptr;
    }
    Display* display = X11TestDesktop::openDisplay();
    if (!display) {
        reason = "the sandboxed X server cannot be reached";
        return nullptr;
    }
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask =
        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    const Window window = XCreateWindow(
        display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(DisplayWidth(display, screen)),
        static_cast<unsigned>(DisplayHeight(display, screen)), 0, CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(display, window);
    XSync(display, False);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    return std::unique_ptr<X11InputRecorder>(new X11InputRecorder(display, window));
}

X11InputRecorder::X11InputRecorder(Display* display, unsigned long window)
    : display_(display), window_(window) {}

X11InputRecorder::~X11InputRecorder() {
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
}

std::vector<X11InputRecorder::Received>
X11InputRecorder::take(const std::function<bool(const std::vector<Received>&)>& done,
                       std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done(received_) && std::chrono::steady_clock::now() < end) {
        if (!XPending(display_)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify) {
            // What applications do: the changed map is read at the next lookup.
            XRefreshKeyboardMapping(&event.xmapping);
        } else if (event.type == KeyPress || event.type == KeyRelease || event.type == ButtonPress ||
                   event.type == ButtonRelease || event.type == MotionNotify) {
            received_.push_back(fromEvent(event));
        }
    }
    return std::exchange(received_, {});
}

std::vector<X11InputRecorder::Received> X11InputRecorder::takeRest() {
    XSync(display_, False);
    return take([](const std::vector<Received>&) { return false; }, std::chrono::milliseconds(200));
}

std::vector<unsigned long> X11InputRecorder::keysymsOf(unsigned int keycode) {
    int perKey = 0;
    KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(keycode), 1, &perKey);
    std::vector<unsigned long> keysyms(map, map + perKey);
    XFree(map);
    return keysyms;
}

void X11InputRecorder::setKeysymsOf(unsigned int keycode, const std::vector<unsigned long>& keysyms) {
    int perKey = 0;
    XFree(XGetKeyboardMapping(display_, static_cast<KeyCode>(keycode), 1, &perKey));
    std::vector<KeySym> row(static_cast<std::size_t>(perKey), NoSymbol);
    std::copy_n(keysyms.begin(), std::min(keysyms.size(), row.size()), row.begin());
    XChangeKeyboardMapping(display_, static_cast<int>(keycode), perKey, row.data(), 1);
    XSync(display_, False);
}

std::size_t X11InputRecorder::emptyKeyCount() {
    int lowest = 0;
    int highest = 0;
    XDisplayKeycodes(display_, &lowest, &highest);
    int perKey = 0;
    KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(lowest), highest - lowest + 1, &perKey);
    std::size_t count = 0;
    for (int key = 0; key <= highest - lowest; ++key) {
        const KeySym* syms = map + key * perKey;
        count += std::all_of(syms, syms + perKey, [](KeySym sym) { return sym == NoSymbol; }) ? 1 : 0;
    }
    XFree(map);
    return count;
}

std::optional<std::vector<unsigned long>> X11InputRecorder::rootProperty(const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display_, DefaultRootWindow(display_), XInternAtom(display_, name, False), 0, 4096,
                       False, AnyPropertyType, &type, &format, &count, &remaining, &data);
    std::optional<std::vector<unsigned long>> items;
    if (type != None && format == 32) {
        const auto* values = reinterpret_cast<const long*>(data);
        items.emplace(values, values + count);
    }
    if (data) {
        XFree(data);
    }
    return items;
}

void X11InputRecorder::setRootProperty(const char* name, const std::vector<unsigned long>& items) {
    XChangeProperty(display_, DefaultRootWindow(display_), XInternAtom(display_, name, False), XA_INTEGER, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(items.data()),
                    static_cast<int>(items.size()));
    XSync(display_, False);
}

bool X11InputRecorder::holdsAnything() {
    char keys[32];
    XQueryKeymap(display_, keys);
    Window root = None;
    Window child = None;
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &x, &y, &x, &y, &mask);
    const bool keyHeld = std::any_of(std::begin(keys), std::end(keys), [](char bits) { return bits != 0; });
    return keyHeld || (mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask)) != 0;
}

unsigned int X11InputRecorder::lockedModifiers() {
    XkbStateRec state{};
    XkbGetState(display_, XkbUseCoreKbd, &state);
    return state.locked_mods;
}

} // namespace velm::test
