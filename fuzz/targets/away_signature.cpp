// The away signature a device sends with its hello, and the public key it once registered: any bytes
// for either are judged without harm. Input: the signature, the key and the payload (pieces).
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "transport/keys/AwaySignature.h"

#include <cstdlib>

namespace velm::fuzz {
namespace {

// The P-256 base point, uncompressed: a valid key whose signatures nobody here can make.
const Bytes basePoint{0x04, 0x6B, 0x17, 0xD1, 0xF2, 0xE1, 0x2C, 0x42, 0x47, 0xF8, 0xBC, 0xE6, 0xE5,
                      0x63, 0xA4, 0x40, 0xF2, 0x77, 0x03, 0x7D, 0x81, 0x2D, 0xEB, 0x33, 0xA0, 0xF4,
                      0xA1, 0x39, 0x45, 0xD8, 0x98, 0xC2, 0x96, 0x4F, 0xE3, 0x42, 0xE2, 0xFE, 0x1A,
                      0x7F, 0x9B, 0x8E, 0xE7, 0xEB, 0x4A, 0x7C, 0x0F, 0x9E, 0x16, 0x2B, 0xCE, 0x33,
                      0x57, 0x6B, 0x31, 0x5E, 0xCE, 0xCB, 0xB6, 0x40, 0x68, 0x37, 0xBF, 0x51, 0xF5};

} // namespace

std::vector<Bytes> seeds() {
    return {FuzzScript().piece(Bytes(64, 1)).piece(basePoint).piece(Bytes(32, 7)).take()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const ByteView signature = input.piece();
    const ByteView key = input.piece();
    const ByteView payload = input.piece();
    // A signature under a key that is no point on the curve cannot be valid.
    if (isValidAwaySignature(signature, key, payload) && !isValidAwayPublicKey(key)) {
        std::abort();
    }
}

} // namespace velm::fuzz
