#pragma once

#include "platform/core/Bytes.h"

#include <string>

namespace velm {

// One pre-shared key of a TLS connection: the identity sent in the clear and the secret.
struct TlsKey {
    std::string identity;
    Bytes secret;
};

} // namespace velm
