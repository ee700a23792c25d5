// Binary clipboard messages: whatever decodes encodes within its limits, to bytes that decode to
// the same bytes again.
#include "fuzz/Seeds.h"
#include "protocol/ClipboardMessage.h"
#include "protocol/WireError.h"

#include <cstdlib>

namespace velm::fuzz {
namespace {

std::vector<Bytes> seeds() {
    return {*ClipboardMessage::subscribe(true).encoded(),
            *ClipboardMessage::text("copied \u00FC text").encoded(),
            *ClipboardMessage::image(Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}).encoded()};
}

} // namespace
} // namespace velm::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return velm::fuzz::writeSeedsIfAsked(velm::fuzz::seeds());
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velm;
    try {
        const auto once = ClipboardMessage::decoding(ByteView(data, size)).encoded();
        if (!once || ClipboardMessage::decoding(*once).encoded() != once) {
            std::abort();
        }
    } catch (const WireError&) {
    }
    return 0;
}
