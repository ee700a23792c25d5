#pragma once

#include <cstdint>
#include <exception>

namespace velm {

// The one error of every binary decoder and of the frame parser. Two errors are
// equal when they are the same kind with the same value.
class WireError : public std::exception {
public:
    enum class Kind { unknownType, frameTooLarge, truncated, invalidString };

    // A tag or modifier byte that names nothing known.
    static WireError unknownType(std::uint8_t type) { return WireError(Kind::unknownType, type); }
    // A length outside the accepted range.
    static WireError frameTooLarge(std::int64_t length) { return WireError(Kind::frameTooLarge, length); }
    // Fewer bytes remain than the next field needs.
    static WireError truncated() { return WireError(Kind::truncated, 0); }
    // Bytes that should be UTF-8 text are not.
    static WireError invalidString() { return WireError(Kind::invalidString, 0); }

    Kind kind() const { return kind_; }
    // The unknown byte or the offending length; 0 for the kinds without one.
    std::int64_t value() const { return value_; }

    const char* what() const noexcept override;

    friend bool operator==(const WireError& a, const WireError& b) {
        return a.kind_ == b.kind_ && a.value_ == b.value_;
    }

private:
    WireError(Kind kind, std::int64_t value);

    Kind kind_;
    std::int64_t value_;
    char message_[48];
};

} // namespace velm
