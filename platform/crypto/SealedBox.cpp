#include "platform/crypto/SealedBox.h"

#include <algorithm>

namespace velm {

std::optional<SealedBox> SealedBox::fromCombined(ByteView combined) {
    if (combined.size() < minimumCombinedLength) {
        return std::nullopt;
    }
    SealedBox box;
    const ByteView ciphertext = combined.subspan(nonceLength, combined.size() - minimumCombinedLength);
    std::copy_n(combined.begin(), nonceLength, box.nonce.begin());
    box.ciphertext.assign(ciphertext.begin(), ciphertext.end());
    std::copy_n(combined.end() - tagLength, tagLength, box.tag.begin());
    return box;
}

Bytes SealedBox::combined() const {
    Bytes result;
    result.reserve(nonceLength + ciphertext.size() + tagLength);
    result.insert(result.end(), nonce.begin(), nonce.end());
    result.insert(result.end(), ciphertext.begin(), ciphertext.end());
    result.insert(result.end(), tag.begin(), tag.end());
    return result;
}

} // namespace velm
