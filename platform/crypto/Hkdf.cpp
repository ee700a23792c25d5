#include "platform/crypto/Hkdf.h"

#include "platform/crypto/OpenSsl.h"

#include <openssl/core_names.h>
#include <openssl/params.h>

namespace velm {

namespace {

OSSL_PARAM octets(const char* name, ByteView bytes) {
    return OSSL_PARAM_construct_octet_string(name, const_cast<unsigned char*>(openssl::dataOrEmpty(bytes)),
                                             bytes.size());
}

} // namespace

std::optional<SecretBytes> Hkdf::sha256(ByteView keyMaterial, ByteView salt, ByteView info,
                                        std::size_t length) {
    if (length == 0 || length > maxLength) {
        return std::nullopt;
    }
    openssl::KdfContext context(EVP_KDF_CTX_new(openssl::hkdf()));
    if (!context) {
        return std::nullopt;
    }
    char digestName[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digestName, 0),
        octets(OSSL_KDF_PARAM_KEY, keyMaterial),
        octets(OSSL_KDF_PARAM_SALT, salt),
        octets(OSSL_KDF_PARAM_INFO, info),
        OSSL_PARAM_construct_end(),
    };
    SecretBytes output(length);
    if (EVP_KDF_derive(context.get(), output.data(), output.size(), params) != 1) {
        return std::nullopt;
    }
    return output;
}

} // namespace velm
