#pragma once

#include <array>
#include <cstdint>
#include <optional>

struct _XDisplay;

namespace velm {

// The injector's virtual key codes as keycodes of the X server's keyboard map. Each code stands for a
// keysym (the key's unshifted symbol on a US keyboard, the PC key for the codes that name both a PC
// key and a high function key); the table finds the key that gives that keysym on its first level,
// so a key types what it says on the client's keyboard whatever layout this computer uses. A key
// giving it only with shift or another level would type its first level instead, so it does not
// count; the keypad's digits are the exception, on their second level under num lock as on a PC
// keyboard. The function modifier has no key.
class X11KeyTable {
public:
    // The keysym a virtual key code stands for; nothing for codes that stand for none.
    static std::optional<unsigned long> keysym(std::uint16_t keyCode);

    // Reads the server's keyboard map; codes whose keysym is on no key's first level are left out.
    explicit X11KeyTable(_XDisplay* display);

    std::optional<std::uint8_t> keycode(std::uint16_t keyCode) const;

    bool operator==(const X11KeyTable&) const = default;

private:
    static constexpr std::size_t codeCount = 128;

    // 0 for a code without a key: X keycodes start at 8.
    std::array<std::uint8_t, codeCount> keycodes_{};
};

} // namespace velm
