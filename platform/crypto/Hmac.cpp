#include "platform/crypto/Hmac.h"

#include "platform/crypto/ConstantTime.h"
#include "platform/crypto/OpenSsl.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>

namespace velm {

Hmac::Code Hmac::sha256(ByteView key, std::initializer_list<ByteView> message) {
    openssl::MacContext context(EVP_MAC_CTX_new(openssl::hmac()));
    char digestName[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
        OSSL_PARAM_construct_end(),
    };
    if (!context || EVP_MAC_init(context.get(), openssl::dataOrEmpty(key), key.size(), params) != 1) {
        openssl::fatal("hmac-sha256");
    }
    for (ByteView part : message) {
        if (EVP_MAC_update(context.get(), part.data(), part.size()) != 1) {
            openssl::fatal("hmac-sha256");
        }
    }
    Code code;
    std::size_t length = 0;
    if (EVP_MAC_final(context.get(), code.data(), &length, code.size()) != 1 || length != codeLength) {
        openssl::fatal("hmac-sha256");
    }
    return code;
}

bool Hmac::isValidSha256(ByteView code, ByteView key, std::initializer_list<ByteView> message) {
    if (code.size() != codeLength) {
        return false;
    }
    Code expected = sha256(key, message);
    const bool valid = constantTimeEqual(code, expected);
    OPENSSL_cleanse(expected.data(), expected.size());
    return valid;
}

} // namespace velm
