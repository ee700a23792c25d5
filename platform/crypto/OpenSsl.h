#pragma once

#include "platform/core/Bytes.h"

#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <memory>

// Small helpers shared by the crypto wrappers; not for use outside platform/crypto.
namespace velm::openssl {

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyContextDeleter {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct MdContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct MacContextDeleter {
    void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};
struct KdfContextDeleter {
    void operator()(EVP_KDF_CTX* context) const { EVP_KDF_CTX_free(context); }
};

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextDeleter>;
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextDeleter>;
using MacContext = std::unique_ptr<EVP_MAC_CTX, MacContextDeleter>;
using KdfContext = std::unique_ptr<EVP_KDF_CTX, KdfContextDeleter>;

// Algorithms fetched once per process; fetching on every call costs a lock and a lookup.
const EVP_MD* sha256();
EVP_MAC* hmac();
EVP_KDF* hkdf();
// AES-GCM for a 16, 24 or 32-byte key; null for any other length.
const EVP_CIPHER* aesGcm(std::size_t keyLength);

// OpenSSL reads a null pointer with length 0 as "parameter not given", so empty
// inputs are passed as a valid pointer instead.
const unsigned char* dataOrEmpty(ByteView bytes);

// For operations that cannot fail on valid input (digests, MACs, random bytes, key
// generation): a failure means the library is unusable, and carrying on would
// risk weak or predictable keys, so the process stops with a message.
[[noreturn]] void fatal(const char* operation);

} // namespace velm::openssl
