#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/OpenSsl.h"
#include "platform/crypto/SealedBox.h"
#include "platform/crypto/SecretBytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace velm {

// AES-GCM under one key with 12-byte nonces and 16-byte tags; the key length (16, 24
// or 32 bytes) chooses AES-128, -192 or -256. The key schedule is set up once and
// the cipher context reused for every message, so sealing many small messages
// costs no allocation or key setup each. Not thread-safe: one owner uses it at a time.
// Failures are reported as false or an absent result, never thrown.
class AesGcm {
public:
    static constexpr std::size_t nonceLength = SealedBox::nonceLength;
    static constexpr std::size_t tagLength = SealedBox::tagLength;

    // Absent when the key is not 16, 24 or 32 bytes long.
    static std::optional<AesGcm> make(ByteView key);

    AesGcm(AesGcm&& other) noexcept;
    AesGcm& operator=(AesGcm&& other) noexcept;
    AesGcm(const AesGcm&) = delete;
    AesGcm& operator=(const AesGcm&) = delete;
    ~AesGcm();

    // Encrypts `plaintext` into `ciphertext` (exactly as long) and writes the tag.
    // The caller must never use one nonce twice under this key.
    bool seal(ByteView nonce, ByteView plaintext, ByteView associatedData, std::span<std::uint8_t> ciphertext,
              std::span<std::uint8_t> tag);
    // Verifies and decrypts into `plaintext` (exactly as long as the ciphertext).
    // On any failure `plaintext` is zeroed, so no unauthenticated bytes are left there.
    bool open(ByteView nonce, ByteView ciphertext, ByteView tag, ByteView associatedData,
              std::span<std::uint8_t> plaintext);

    // Seals under a fresh random nonce.
    std::optional<SealedBox> seal(ByteView plaintext, ByteView associatedData = {});
    std::optional<Bytes> open(const SealedBox& box, ByteView associatedData = {});

private:
    enum class Mode { none, sealing, opening };

    AesGcm(SecretBytes key, const EVP_CIPHER* cipher, openssl::CipherContext context);
    bool begin(Mode mode, ByteView nonce, ByteView associatedData);

    SecretBytes key_;
    const EVP_CIPHER* cipher_;
    openssl::CipherContext context_;
    Mode mode_ = Mode::none;
};

} // namespace velm
