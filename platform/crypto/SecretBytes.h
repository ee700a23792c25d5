#pragma once

#include "platform/core/Bytes.h"

#include <cstddef>
#include <cstdint>

namespace velm {

// Key material that is wiped from memory when it is freed or overwritten.
// Its size is fixed at creation, so the buffer never moves behind the wiping.
// Equality compares in constant time.
class SecretBytes {
public:
    SecretBytes() = default;
    // `size` zero bytes, to be filled in place.
    explicit SecretBytes(std::size_t size);
    explicit SecretBytes(ByteView bytes);
    SecretBytes(const SecretBytes& other);
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(const SecretBytes& other);
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    ~SecretBytes();

    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    ByteView view() const { return bytes_; }
    operator ByteView() const { return bytes_; }

    friend bool operator==(const SecretBytes& left, const SecretBytes& right);

private:
    void wipe();

    Bytes bytes_;
};

} // namespace velm
