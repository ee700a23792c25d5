#pragma once

#include <string>

namespace velm {

// One of the desktop's input devices as XInput 2 lists it: a keyboard or pointer below a master
// device, attached to it or floating on its own.
struct InputDevice {
    enum class Kind { pointer, keyboard };

    int id = 0;
    // As the device reports it (bounded, valid UTF-8); for logs only, since any device may call itself
    // anything.
    std::string name;
    Kind kind = Kind::pointer;
    // One of the server's XTEST devices, through which every client's synthetic input (ours included)
    // arrives; told by the server's own "XTEST Device" property, never by the name.
    bool isXtest = false;

    friend bool operator==(const InputDevice&, const InputDevice&) = default;
};

} // namespace velm
