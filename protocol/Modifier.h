#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace velm {

// A modifier key as it travels on the input channel: its raw value is the wire byte.
enum class Modifier : std::uint8_t {
    command = 0,
    option = 1,
    control = 2,
    shift = 3,
    function = 4,
    capsLock = 5
};

inline constexpr std::array<Modifier, 6> allModifiers{Modifier::command,  Modifier::option,
                                                      Modifier::control,  Modifier::shift,
                                                      Modifier::function, Modifier::capsLock};

// The modifier a wire byte names; bytes from 6 name none.
constexpr std::optional<Modifier> modifierFromRaw(std::uint8_t raw) {
    if (raw >= allModifiers.size()) {
        return std::nullopt;
    }
    return static_cast<Modifier>(raw);
}

} // namespace velm
