#pragma once

#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/core/Bytes.h"

namespace velm {

// One message of the clipboard channel: a tag byte, then either a
// subscription flag or a text or image that runs to the end of the frame.
class ClipboardMessage {
public:
    static constexpr std::size_t maxTextBytes = 1'000'000;
    static constexpr std::size_t maxImageBytes = 3'000'000;

    // Switches the peer's clipboard reports on or off.
    struct Subscribe {
        bool enabled;
        friend bool operator==(const Subscribe&, const Subscribe&) = default;
    };
    // UTF-8 text; texts are equal when canonically equivalent.
    struct Text {
        std::string text;
        friend bool operator==(const Text& a, const Text& b);
    };
    // Encoded image bytes (PNG or the like), compared byte for byte.
    struct Image {
        Bytes data;
        friend bool operator==(const Image&, const Image&) = default;
    };

    // In wire order: an alternative's index is its tag.
    using Value = std::variant<Subscribe, Text, Image>;

    template <typename Alternative>
        requires(!std::same_as<std::remove_cvref_t<Alternative>, ClipboardMessage> &&
                 std::is_constructible_v<Value, Alternative &&>)
    ClipboardMessage(Alternative&& value) : value_(std::forward<Alternative>(value)) {}

    static ClipboardMessage subscribe(bool enabled) { return Subscribe{enabled}; }
    static ClipboardMessage text(std::string text) { return Text{std::move(text)}; }
    static ClipboardMessage image(Bytes data) { return Image{std::move(data)}; }

    const Value& value() const { return value_; }
    // The message's content when it is of that case, else null.
    template <typename Alternative>
    const Alternative* get() const {
        return std::get_if<Alternative>(&value_);
    }

    // The message's bytes, or nothing when its content is over its limit or
    // is an empty image, neither of which the peer would accept. Ill-formed
    // UTF-8 in a text is sent as U+FFFD.
    std::optional<Bytes> encoded() const;
    // Reads a message from a frame payload. Throws WireError.
    static ClipboardMessage decoding(ByteView payload);

    friend bool operator==(const ClipboardMessage&, const ClipboardMessage&) = default;

private:
    Value value_;
};

} // namespace velm
