#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/CaseValue.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace velm {

// The cases of ClipboardMessage.
struct ClipboardMessageCases {
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
};

// One message of the clipboard channel: a tag byte, then either a
// subscription flag or a text or image that runs to the end of the frame.
// The cases are in wire order: a case's index is its tag.
class ClipboardMessage : public ClipboardMessageCases,
                         public CaseValue<ClipboardMessageCases::Subscribe, ClipboardMessageCases::Text,
                                          ClipboardMessageCases::Image> {
public:
    static constexpr std::size_t maxTextBytes = 1'000'000;
    static constexpr std::size_t maxImageBytes = 3'000'000;

    using CaseValue::CaseValue;

    static ClipboardMessage subscribe(bool enabled) { return Subscribe{enabled}; }
    static ClipboardMessage text(std::string text) { return Text{std::move(text)}; }
    static ClipboardMessage image(Bytes data) { return Image{std::move(data)}; }

    // The message's bytes, or nothing when its content is over its limit or
    // is an empty image, neither of which the peer would accept. Ill-formed
    // UTF-8 in a text is sent as U+FFFD.
    std::optional<Bytes> encoded() const;
    // Reads a message from a frame payload. Throws WireError.
    static ClipboardMessage decoding(ByteView payload);
};

} // namespace velm
