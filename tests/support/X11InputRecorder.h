#pragma once

#include "platform/display/ScreenRect.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace velm::test {

// A small X application that records the input it receives: a window over the whole screen, with
// the keyboard focus, that looks up every key through XLookupString as applications do. Runs only in
// the test sandbox (VELM_TEST_X11).
class X11InputRecorder {
public:
    enum class Kind { keyPress, keyRelease, buttonPress, buttonRelease, motion };

    struct Received {
        Kind kind;
        // The keycode or button.
        unsigned int detail = 0;
        // What XLookupString makes of a key event; 0 otherwise.
        unsigned long keysym = 0;
        int rootX = 0;
        int rootY = 0;
        // Modifiers and buttons held when it happened.
        unsigned int state = 0;
    };

    // Nothing (and `reason` says why) outside the sandbox.
    static std::unique_ptr<X11InputRecorder> open(std::string& reason);
    ~X11InputRecorder();
    X11InputRecorder(const X11InputRecorder&) = delete;
    X11InputRecorder& operator=(const X11InputRecorder&) = delete;

    _XDisplay* display() const { return display_; }

    // Reads events until `done` holds for what was received so far, for at most `limit`; then
    // returns everything received since the last take.
    std::vector<Received> take(const std::function<bool(const std::vector<Received>&)>& done,
                               std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Everything that arrives within a short while: for checking that nothing more comes.
    std::vector<Received> takeRest();
    // The keysyms the server's keyboard map gives a key now.
    std::vector<unsigned long> keysymsOf(unsigned int keycode);
    // Gives a key these keysyms and no others, as a program of the user's would.
    void setKeysymsOf(unsigned int keycode, const std::vector<unsigned long>& keysyms);
    // How many keys of the server's keyboard map give no keysym at all.
    std::size_t emptyKeyCount();
    // A 32-bit property of the root window as another program would write or read it; nothing when
    // it is not there.
    std::optional<std::vector<unsigned long>> rootProperty(const char* name);
    void setRootProperty(const char* name, const std::vector<unsigned long>& items);
    // Whether the server's state holds any key or button down.
    bool holdsAnything();
    // The modifiers locked now (caps lock, num lock, ...) as a mask of X modifier bits.
    unsigned int lockedModifiers();

private:
    X11InputRecorder(_XDisplay* display, unsigned long window);

    _XDisplay* display_;
    unsigned long window_;
    std::vector<Received> received_;
};

} // namespace velm::test
