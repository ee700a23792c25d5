#pragma once

#include "platform/core/Bytes.h"

#include <cstddef>

namespace velm {

// Verification of ECDSA signatures over NIST P-256 with SHA-256. Public keys are
// uncompressed X9.63 points (0x04, x, y: 65 bytes); compressed and hybrid
// encodings are refused. Signatures are raw r || s, 32 bytes each.
class EcdsaP256 {
public:
    static constexpr std::size_t publicKeyLength = 65;
    static constexpr std::size_t signatureLength = 64;

    // Whether the bytes are an uncompressed point on the curve.
    static bool isValidPublicKey(ByteView x963);
    // Whether `signature` signs the SHA-256 digest of `message` under the key.
    // Any key or signature that does not parse gives false.
    static bool isValidSignature(ByteView signature, ByteView x963PublicKey, ByteView message);
};

} // namespace velm
