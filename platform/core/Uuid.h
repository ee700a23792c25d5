#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// A 128-bit universally unique identifier.
class Uuid {
public:
    using Bytes16 = std::array<std::uint8_t, 16>;

    // The nil identifier (all zero), a placeholder until a real one is assigned.
    Uuid() = default;
    explicit Uuid(const Bytes16& bytes) : bytes_(bytes) {}

    // A fresh random (version 4) identifier.
    static Uuid random();

    // Reads the 8-4-4-4-12 hexadecimal form in either letter case; anything else gives nothing.
    static std::optional<Uuid> parse(std::string_view text);

    // The 8-4-4-4-12 form in upper case, as identifiers are written everywhere.
    std::string string() const;

    const Bytes16& bytes() const { return bytes_; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    Bytes16 bytes_{};
};

} // namespace velm

template <> struct std::hash<velm::Uuid> {
    std::size_t operator()(const velm::Uuid& uuid) const noexcept {
        std::size_t value = 0;
        for (const std::uint8_t byte : uuid.bytes()) {
            value = value * 131 + byte;
        }
        return value;
    }
};
