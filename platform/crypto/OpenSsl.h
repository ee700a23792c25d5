#pragma once

#include "platform/core/Bytes.h"

#include <memory>
#include <openssl/evp.h>
#include <openssl/kdf.h>

// Small helpers shared by the crypto wrappers; not for use outside platform/crypto.
namespace velm::openssl {

// Frees an object with the library's own free function for it.
template <auto freeFunction> struct Deleter {
    template <typename T> void operator()(T* object) const { freeFunction(object); }
};

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using MdContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using MacContext = std::unique_ptr<EVP_MAC_CTX, Deleter<EVP_MAC_CTX_free>>;
using KdfContext = std::unique_ptr<EVP_KDF_CTX, Deleter<EVP_KDF_CTX_free>>;

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
