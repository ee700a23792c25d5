#pragma once

#include "platform/crypto/SecretBytes.h"

#include <string>

namespace velm {

// One pre-shared key of a TLS connection: the identity sent in the clear and the secret.
struct TlsKey {
    std::string identity;
    SecretBytes secret;
};

} // namespace velm
