#include "platform/crypto/SecureWipe.h"

#include <openssl/crypto.h>

namespace velm {

void secureWipe(std::span<std::uint8_t> bytes) {
    if (!bytes.empty()) {
        OPENSSL_cleanse(bytes.data(), bytes.size());
    }
}

void secureWipe(std::string& text) {
    if (!text.empty()) {
        OPENSSL_cleanse(text.data(), text.size());
    }
}

} // namespace velm
