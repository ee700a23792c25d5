#include "platform/crypto/EcdsaP256.h"

#include "platform/crypto/OpenSsl.h"

#include <memory>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/params.h>
#include <optional>

namespace velm {

namespace {

constexpr std::uint8_t uncompressedPoint = 0x04;
constexpr std::size_t scalarLength = 32;

openssl::Pkey parseP256PublicKey(ByteView x963) {
    if (x963.size() != EcdsaP256::publicKeyLength || x963[0] != uncompressedPoint) {
        return nullptr;
    }
    const openssl::PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    char group[] = "P-256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<std::uint8_t*>(x963.data()),
                                          x963.size()),
        OSSL_PARAM_construct_end(),
    };
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
        return nullptr;
    }
    return openssl::Pkey(key);
}

// The library verifies DER; r and s become the two INTEGERs of that form.
std::optional<Bytes> derFromRaw(ByteView raw) {
    if (raw.size() != EcdsaP256::signatureLength) {
        return std::nullopt;
    }
    std::unique_ptr<ECDSA_SIG, openssl::Deleter<ECDSA_SIG_free>> signature(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(raw.data(), scalarLength, nullptr);
    BIGNUM* s = BN_bin2bn(raw.data() + scalarLength, scalarLength, nullptr);
    if (!signature || r == nullptr || s == nullptr || ECDSA_SIG_set0(signature.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return std::nullopt;
    }
    const int length = i2d_ECDSA_SIG(signature.get(), nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    Bytes der(static_cast<std::size_t>(length));
    std::uint8_t* cursor = der.data();
    if (i2d_ECDSA_SIG(signature.get(), &cursor) != length) {
        return std::nullopt;
    }
    return der;
}

} // namespace

bool EcdsaP256::isValidPublicKey(ByteView x963) {
    return parseP256PublicKey(x963) != nullptr;
}

bool EcdsaP256::isValidSignature(ByteView signature, ByteView x963PublicKey, ByteView message) {
    const openssl::Pkey key = parseP256PublicKey(x963PublicKey);
    if (!key) {
        return false;
    }
    const std::optional<Bytes> der = derFromRaw(signature);
    if (!der) {
        return false;
    }
    openssl::MdContext context(EVP_MD_CTX_new());
    return context &&
           EVP_DigestVerifyInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key.get(), nullptr) ==
               1 &&
           EVP_DigestVerify(context.get(), der->data(), der->size(), openssl::dataOrEmpty(message),
                            message.size()) == 1;
}

} // namespace velm
