// Base64 from the control connection: decoding is strict, so what decodes is exactly what the
// encoder writes for those bytes; and any bytes come back through encode and decode.
#include "platform/core/Base64.h"

#include "fuzz/Target.h"

#include <cstdlib>
#include <string_view>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    return {toBytes(Base64::encode(toBytes("any carnal pleasure."))), toBytes(Base64::encode(Bytes{0xFF})),
            toBytes(Base64::encode(Bytes{0xFB, 0xFF, 0x00, 0x10}))};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto decoded = Base64::decode(text); decoded && Base64::encode(*decoded) != text) {
        std::abort();
    }
    const ByteView bytes(data, size);
    const auto back = Base64::decode(Base64::encode(bytes));
    if (!back || !std::equal(back->begin(), back->end(), bytes.begin(), bytes.end())) {
        std::abort();
    }
}

} // namespace velm::fuzz
