// Binary clipboard messages: whatever decodes encodes within its limits, to bytes that decode to
// the same bytes again.
#include "fuzz/Target.h"
#include "protocol/ClipboardMessage.h"
#include "protocol/WireError.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    return {*ClipboardMessage::subscribe(true).encoded(),
            *ClipboardMessage::text("copied \u00FC text").encoded(),
            *ClipboardMessage::image(Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}).encoded()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    try {
        const auto once = ClipboardMessage::decoding(ByteView(data, size)).encoded();
        if (!once || ClipboardMessage::decoding(*once).encoded() != once) {
            std::abort();
        }
    } catch (const WireError&) {
    }
}

} // namespace velm::fuzz
