#include "platform/crypto/ConstantTime.h"

#include <openssl/crypto.h>

namespace velm {

bool constantTimeEqual(ByteView left, ByteView right) {
    if (left.size() != right.size()) {
        return false;
    }
    return left.empty() || CRYPTO_memcmp(left.data(), right.data(), left.size()) == 0;
}

} // namespace velm
