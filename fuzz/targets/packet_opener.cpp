// The datagram opener: forged datagrams and sealed ones in any order. A sealed datagram opens to
// its plaintext exactly when its counter is above every one accepted before; nothing else opens.
// Input: steps of a flag (seal the next piece or send it raw) and a piece.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "transport/keys/PacketOpener.h"
#include "transport/keys/PacketSealer.h"

#include <cstdlib>
#include <vector>

namespace velm::fuzz {
namespace {

const Bytes key(32, 0x3C);

} // namespace

std::vector<Bytes> seeds() {
    return {FuzzScript().byte(1).piece(toBytes("frame")).byte(0).piece(Bytes(40, 9)).byte(3).piece({}).take(),
            FuzzScript().byte(1).piece(Bytes(1200, 0xAB)).byte(2).piece({}).take()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    PacketSealer sealer(SecretBytes(fuzz::key), PacketDirection::hostToClient);
    PacketOpener opener(SecretBytes(fuzz::key), PacketDirection::hostToClient, true);
    std::vector<std::pair<Bytes, Bytes>> sent; // datagram, plaintext
    std::uint64_t highest = 0;
    while (!input.empty()) {
        const std::uint8_t step = input.byte();
        const ByteView piece = input.piece();
        if ((step & 1) != 0) {
            // Seal a new datagram, or (bit 1) send an earlier one again.
            if ((step & 2) != 0 && !sent.empty()) {
                const auto& [datagram, plaintext] = sent[step % sent.size()];
                if (opener.open(datagram)) {
                    std::abort(); // a replay
                }
                continue;
            }
            const auto datagram = sealer.seal(piece);
            if (!datagram) {
                std::abort();
            }
            sent.emplace_back(*datagram, Bytes(piece.begin(), piece.end()));
            const auto opened = opener.open(*datagram);
            if (!opened || *opened != sent.back().second || opener.highestCounter() != sealer.counter()) {
                std::abort();
            }
            highest = sealer.counter();
        } else if (opener.open(piece) || opener.highestCounter() != highest) {
            std::abort(); // a forgery opened, or moved the mark
        }
    }
}

} // namespace velm::fuzz
