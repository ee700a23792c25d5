#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace velm {

// A mouse button as the client names it. On the wire left, right and middle are
// 0, 1 and 2; any other button travels as its number, at least 3.
class PointerButton {
public:
    enum class Kind : std::uint8_t { left, right, middle, other };

    static constexpr PointerButton left() { return {Kind::left, 0}; }
    static constexpr PointerButton right() { return {Kind::right, 0}; }
    static constexpr PointerButton middle() { return {Kind::middle, 0}; }
    static constexpr PointerButton other(std::uint8_t number) { return {Kind::other, number}; }

    static constexpr PointerButton fromWireByte(std::uint8_t byte) {
        switch (byte) {
        case 0:
            return left();
        case 1:
            return right();
        case 2:
            return middle();
        default:
            return other(byte);
        }
    }

    // other(0) to other(3) all travel as 3, and so read back as other(3).
    constexpr std::uint8_t wireByte() const {
        switch (kind_) {
        case Kind::left:
            return 0;
        case Kind::right:
            return 1;
        case Kind::middle:
            return 2;
        case Kind::other:
            break;
        }
        return std::max<std::uint8_t>(number_, 3);
    }

    constexpr Kind kind() const { return kind_; }
    // The number of an other button; 0 for the named ones.
    constexpr std::uint8_t number() const { return number_; }

    friend constexpr bool operator==(const PointerButton&, const PointerButton&) = default;

private:
    constexpr PointerButton(Kind kind, std::uint8_t number) : kind_(kind), number_(number) {}

    Kind kind_;
    std::uint8_t number_;
};

} // namespace velm

template <> struct std::hash<velm::PointerButton> {
    std::size_t operator()(const velm::PointerButton& button) const noexcept {
        return static_cast<std::size_t>(button.kind()) << 8 | button.number();
    }
};
