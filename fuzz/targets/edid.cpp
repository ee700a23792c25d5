// Monitor EDID blocks, which come from the monitor through the X server: whatever they hold, a name
// read from them is short, printable and trimmed. Each input is also read with its header and
// checksum made right, so that the fuzzer reaches the descriptors.
#include "platform/x11/Edid.h"

#include "fuzz/Target.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <numeric>

namespace velm::fuzz {
namespace {

constexpr std::array<std::uint8_t, 8> header = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

Bytes madeRight(Bytes bytes) {
    bytes.resize(std::max(bytes.size(), Edid::blockSize));
    std::copy(header.begin(), header.end(), bytes.begin());
    const unsigned sum = std::accumulate(bytes.begin(), bytes.begin() + Edid::blockSize - 1, 0u);
    bytes[Edid::blockSize - 1] = static_cast<std::uint8_t>((256 - sum % 256) % 256);
    return bytes;
}

void check(const std::optional<Edid>& edid) {
    if (!edid) {
        return;
    }
    const std::string& name = edid->productName;
    const bool printable =
        std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (name.size() > 13 || !printable || name.starts_with(' ') || name.ends_with(' ')) {
        std::abort();
    }
}

} // namespace

std::vector<Bytes> seeds() {
    Bytes named(Edid::blockSize, 0);
    named[8] = 0x10;
    named[9] = 0xAC;
    named[54] = 0x01;
    named[72 + 3] = 0xFC;
    const std::string name = "DELL U2720Q\n ";
    std::copy(name.begin(), name.end(), named.begin() + 72 + 5);
    return {madeRight(named), madeRight(Bytes(Edid::blockSize, 0))};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const Bytes bytes(data, data + size);
    check(Edid::parse(bytes));
    check(Edid::parse(madeRight(bytes)));
}

} // namespace velm::fuzz
