#include "Velm_Host/session/GlimpseFit.h"

#include "protocol/ChannelFrame.h"
#include "protocol/ControlMessage.h"

#include <string_view>

namespace velm {

namespace {

// The message around the Base64 text: {"glimpse":{"_0":"..."}}.
constexpr std::size_t messageOverhead = std::string_view(R"({"glimpse":{"_0":""}})").size();

} // namespace

std::size_t GlimpseFit::maxJpegBytes() {
    // Base64 writes every 3 bytes, the last group padded, as 4 characters.
    return (ChannelFrame::maxPayloadLength - messageOverhead) / 4 * 3;
}

std::optional<Bytes> GlimpseFit::fitted(std::optional<Bytes> jpeg) {
    if (!jpeg || jpeg->size() > maxJpegBytes()) {
        return std::nullopt;
    }
    return jpeg;
}

} // namespace velm
