#pragma once

#include "platform/core/Bytes.h"

namespace velm {

// A device that reaches the host from away signs its session binding with a P-256
// key that never leaves the device; the host checks it with the public key it
// stored for that device. The signed message is "velm-away-signature-v1" followed
// by the payload (always the session binding).
Bytes awaySignedMessage(ByteView payload);

// Whether `signature` (raw r || s, 64 bytes) is an ECDSA P-256 / SHA-256 signature
// of awaySignedMessage(payload) under `publicKey` (uncompressed X9.63, 65 bytes).
// A key or signature that does not parse gives false.
bool isValidAwaySignature(ByteView signature, ByteView publicKey, ByteView payload);

// Whether the bytes are an uncompressed X9.63 point on P-256.
bool isValidAwayPublicKey(ByteView x963);

} // namespace velm
