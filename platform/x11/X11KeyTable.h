#pragma once

#include <array>
#include <cstdint>
#include <optional>

struct _XDisplay;

namespace velm {

// The injector's virtual key codes as keycodes of the X server's keyboard map. Each code stands for a
// keysym (the key's unshifted symbol on a US keyboard, the PC key for the codes that name both a PC
// key and a high function key); the table finds that keysym's key once, so a key types what it says
// on the client's keyboard whatever layout this computer uses. The function modifier has no key.
class X11KeyTable {
public:
    // The keysym a virtual key code stands for; nothing for codes that stand for none.
    static std::optional<unsigned long> keysym(std::uint16_t keyCode);

    // Reads the server's keyboard map; codes whose keysym is on no key are left out.
    explicit X11KeyTable(_XDisplay* display);

    std::optional<std::uint8_t> keycode(std::uint16_t keyCode) const;

private:
    static constexpr std::size_t codeCount = 128;

    // 0 for a code without a key: X keycodes start at 8.
    std::array<std::uint8_t, codeCount> keycodes_{};
};

} // namespace velm
