#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <type_traits>

namespace velm {

// A string-valued enumeration names its raw values by specialising this template:
//
//     template <> struct RawValues<ByeReason> {
//         static constexpr std::string_view typeName = "ByeReason";
//         static constexpr std::array<std::string_view, 9> names{"userDisconnected", ...};
//     };
//
// `names[i]` is the raw value of the case whose underlying value is i, so the cases must be
// numbered 0, 1, 2, ... in declaration order. Such an enumeration travels in JSON as its raw value.
template <typename E> struct RawValues;

template <typename E>
concept RawEnum = std::is_enum_v<E> && requires {
    { RawValues<E>::typeName } -> std::convertible_to<std::string_view>;
    RawValues<E>::names.size();
};

template <RawEnum E> constexpr std::string_view rawValue(E value) {
    return RawValues<E>::names[static_cast<std::size_t>(value)];
}

// The case whose raw value is exactly `raw` (letter case included), or nothing.
template <RawEnum E> constexpr std::optional<E> fromRawValue(std::string_view raw) {
    const auto& names = RawValues<E>::names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == raw) {
            return static_cast<E>(i);
        }
    }
    return std::nullopt;
}

} // namespace velm
