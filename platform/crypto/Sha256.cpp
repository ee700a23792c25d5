#include "platform/crypto/Sha256.h"

#include "platform/crypto/OpenSsl.h"

namespace velm {

Sha256::Digest Sha256::digest(std::initializer_list<ByteView> parts) {
    openssl::MdContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex2(context.get(), openssl::sha256(), nullptr) != 1) {
        openssl::fatal("sha-256");
    }
    for (ByteView part : parts) {
        if (EVP_DigestUpdate(context.get(), part.data(), part.size()) != 1) {
            openssl::fatal("sha-256");
        }
    }
    Digest result;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), result.data(), &length) != 1 || length != digestLength) {
        openssl::fatal("sha-256");
    }
    return result;
}

} // namespace velm
