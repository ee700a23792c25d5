#include "platform/crypto/AesGcm.h"

#include "platform/crypto/Random.h"

#include <climits>
#include <openssl/crypto.h>
#include <utility>

namespace velm {

namespace {

bool fitsInt(std::size_t size) {
    return size <= static_cast<std::size_t>(INT_MAX);
}

} // namespace

std::optional<AesGcm> AesGcm::make(ByteView key) {
    const EVP_CIPHER* cipher = openssl::aesGcm(key.size());
    if (cipher == nullptr) {
        return std::nullopt;
    }
    openssl::CipherContext context(EVP_CIPHER_CTX_new());
    if (!context) {
        return std::nullopt;
    }
    return AesGcm(SecretBytes(key), cipher, std::move(context));
}

AesGcm::AesGcm(SecretBytes key, const EVP_CIPHER* cipher, openssl::CipherContext context)
    : key_(std::move(key)), cipher_(cipher), context_(std::move(context)) {}

AesGcm::AesGcm(AesGcm&& other) noexcept
    : key_(std::move(other.key_)), cipher_(other.cipher_), context_(std::move(other.context_)),
      mode_(std::exchange(other.mode_, Mode::none)) {}

AesGcm& AesGcm::operator=(AesGcm&& other) noexcept {
    key_ = std::move(other.key_);
    cipher_ = other.cipher_;
    context_ = std::move(other.context_);
    mode_ = std::exchange(other.mode_, Mode::none);
    return *this;
}

// The context cleanses its key schedule when freed; key_ wipes itself.
AesGcm::~AesGcm() = default;

// The key is loaded only when the direction changes; after that each message sets
// just its nonce, which keeps the expanded key and the GHASH tables.
bool AesGcm::begin(Mode mode, ByteView nonce, ByteView associatedData) {
    if (!context_ || nonce.size() != nonceLength || !fitsInt(associatedData.size())) {
        return false;
    }
    const bool reuse = mode == mode_;
    const EVP_CIPHER* cipher = reuse ? nullptr : cipher_;
    const unsigned char* key = reuse ? nullptr : key_.data();
    const int started = mode == Mode::sealing
                            ? EVP_EncryptInit_ex2(context_.get(), cipher, key, nonce.data(), nullptr)
                            : EVP_DecryptInit_ex2(context_.get(), cipher, key, nonce.data(), nullptr);
    if (started != 1) {
        mode_ = Mode::none;
        return false;
    }
    mode_ = mode;
    int length = 0;
    return associatedData.empty() || EVP_CipherUpdate(context_.get(), nullptr, &length, associatedData.data(),
                                                      static_cast<int>(associatedData.size())) == 1;
}

bool AesGcm::seal(ByteView nonce, ByteView plaintext, ByteView associatedData,
                  std::span<std::uint8_t> ciphertext, std::span<std::uint8_t> tag) {
    if (ciphertext.size() != plaintext.size() || tag.size() != tagLength || !fitsInt(plaintext.size()) ||
        !begin(Mode::sealing, nonce, associatedData)) {
        return false;
    }
    int length = 0;
    if (!plaintext.empty() && EVP_EncryptUpdate(context_.get(), ciphertext.data(), &length, plaintext.data(),
                                                static_cast<int>(plaintext.size())) != 1) {
        return false;
    }
    int finalLength = 0;
    return EVP_EncryptFinal_ex(context_.get(), ciphertext.data() + length, &finalLength) == 1 &&
           EVP_CIPHER_CTX_ctrl(context_.get(), EVP_CTRL_AEAD_GET_TAG, tagLength, tag.data()) == 1;
}

bool AesGcm::open(ByteView nonce, ByteView ciphertext, ByteView tag, ByteView associatedData,
                  std::span<std::uint8_t> plaintext) {
    const bool opened = [&] {
        if (plaintext.size() != ciphertext.size() || tag.size() != tagLength || !fitsInt(ciphertext.size()) ||
            !begin(Mode::opening, nonce, associatedData)) {
            return false;
        }
        int length = 0;
        if (!ciphertext.empty() &&
            EVP_DecryptUpdate(context_.get(), plaintext.data(), &length, ciphertext.data(),
                              static_cast<int>(ciphertext.size())) != 1) {
            return false;
        }
        // The library wants a writable tag buffer even though it only reads it.
        std::uint8_t expected[tagLength];
        std::copy(tag.begin(), tag.end(), expected);
        int finalLength = 0;
        return EVP_CIPHER_CTX_ctrl(context_.get(), EVP_CTRL_AEAD_SET_TAG, tagLength, expected) == 1 &&
               EVP_DecryptFinal_ex(context_.get(), plaintext.data() + length, &finalLength) == 1;
    }();
    if (!opened && !plaintext.empty()) {
        OPENSSL_cleanse(plaintext.data(), plaintext.size());
    }
    return opened;
}

std::optional<SealedBox> AesGcm::seal(ByteView plaintext, ByteView associatedData) {
    SealedBox box;
    Random::fill(box.nonce);
    box.ciphertext.resize(plaintext.size());
    if (!seal(box.nonce, plaintext, associatedData, box.ciphertext, box.tag)) {
        return std::nullopt;
    }
    return box;
}

std::optional<Bytes> AesGcm::open(const SealedBox& box, ByteView associatedData) {
    Bytes plaintext(box.ciphertext.size());
    if (!open(box.nonce, box.ciphertext, box.tag, associatedData, plaintext)) {
        return std::nullopt;
    }
    return plaintext;
}

} // namespace velm
