#pragma once

#include "platform/core/Bytes.h"

namespace velm {

// The proof in a client's hello that the device holds its device key, bound to one
// TLS session through that session's binding: HMAC-SHA256 keyed with the device key
// over "velm-hello-v1" followed by the binding. A proof seen on one connection is
// worthless on any other.
Bytes helloProof(ByteView deviceKey, ByteView binding);

// True only when `proof` is exactly the proof for this key and binding (compared in
// constant time). The host admits a hello only when this holds.
bool isValidHelloProof(ByteView proof, ByteView deviceKey, ByteView binding);

} // namespace velm
