#include "platform/crypto/OpenSsl.h"

#include "platform/log/Log.h"

#include <cstdlib>
#include <openssl/crypto.h>
#include <openssl/err.h>

namespace velm::openssl {

namespace {

// OpenSSL frees its state from an exit handler of its own, which runs before the pools'
// threads are stopped whenever the library started after the pools (exit handlers run in
// reverse order); the per-thread state of those threads would then be lost. Initialised
// here without that handler, the library keeps its state until the process ends, and the
// state of each thread goes with the thread.
[[maybe_unused]] const bool initialised = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

template <typename T, typename Fetch> T* fetchOnce(Fetch fetch, const char* name) {
    T* algorithm = fetch(nullptr, name, nullptr);
    if (algorithm == nullptr) {
        fatal(name);
    }
    return algorithm;
}

} // namespace

const EVP_MD* sha256() {
    static EVP_MD* const digest = fetchOnce<EVP_MD>(EVP_MD_fetch, "SHA256");
    return digest;
}

EVP_MAC* hmac() {
    static EVP_MAC* const mac = fetchOnce<EVP_MAC>(EVP_MAC_fetch, "HMAC");
    return mac;
}

EVP_KDF* hkdf() {
    static EVP_KDF* const kdf = fetchOnce<EVP_KDF>(EVP_KDF_fetch, "HKDF");
    return kdf;
}

const EVP_CIPHER* aesGcm(std::size_t keyLength) {
    static EVP_CIPHER* const aes128 = fetchOnce<EVP_CIPHER>(EVP_CIPHER_fetch, "AES-128-GCM");
    static EVP_CIPHER* const aes192 = fetchOnce<EVP_CIPHER>(EVP_CIPHER_fetch, "AES-192-GCM");
    static EVP_CIPHER* const aes256 = fetchOnce<EVP_CIPHER>(EVP_CIPHER_fetch, "AES-256-GCM");
    switch (keyLength) {
    case 16:
        return aes128;
    case 24:
        return aes192;
    case 32:
        return aes256;
    default:
        return nullptr;
    }
}

const unsigned char* dataOrEmpty(ByteView bytes) {
    static const unsigned char empty = 0;
    return bytes.empty() ? &empty : bytes.data();
}

void fatal(const char* operation) {
    char reason[256] = "unknown";
    // The newest error is the failed call's: older ones may be left over from an unrelated refusal.
    ERR_error_string_n(ERR_peek_last_error(), reason, sizeof reason);
    Log("crypto").error("crypto library failed in %s: %s", operation, reason);
    std::abort();
}

} // namespace velm::openssl
