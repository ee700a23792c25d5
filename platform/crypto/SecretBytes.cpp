#include "platform/crypto/SecretBytes.h"

#include "platform/crypto/ConstantTime.h"

#include <openssl/crypto.h>
#include <utility>

namespace velm {

SecretBytes::SecretBytes(std::size_t size) : bytes_(size) {}

SecretBytes::SecretBytes(ByteView bytes) : bytes_(bytes.begin(), bytes.end()) {}

SecretBytes::SecretBytes(const SecretBytes& other) : bytes_(other.bytes_) {}

// A moved-from vector hands over its buffer, so no copy of the secret stays behind.
SecretBytes::SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {
    other.bytes_.clear();
}

SecretBytes& SecretBytes::operator=(const SecretBytes& other) {
    if (this != &other) {
        SecretBytes copy(other);
        *this = std::move(copy);
    }
    return *this;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        wipe();
        bytes_ = std::move(other.bytes_);
        other.bytes_.clear();
    }
    return *this;
}

SecretBytes::~SecretBytes() {
    wipe();
}

void SecretBytes::wipe() {
    if (!bytes_.empty()) {
        OPENSSL_cleanse(bytes_.data(), bytes_.size());
    }
    bytes_.clear();
}

bool operator==(const SecretBytes& left, const SecretBytes& right) {
    return constantTimeEqual(left.view(), right.view());
}

} // namespace velm
