#pragma once

#include "platform/core/Base64.h"
#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/crypto/SecureWipe.h"
#include "protocol/json/JsonCoding.h"

#include <string>

namespace velm {

// Key material travels like any other Data (standard Base64), but the decoded copy is wiped
// as soon as it has been moved into its SecretBytes.
template <> struct JsonCoding<SecretBytes> {
    static void encode(const SecretBytes& value, const JsonWriter& out) {
        out.node() = Base64::encode(value);
    }

    static SecretBytes decode(const JsonReader& in) {
        Bytes bytes = JsonCoding<Bytes>::decode(in);
        SecretBytes secret(bytes);
        secureWipe(bytes);
        return secret;
    }
};

} // namespace velm
