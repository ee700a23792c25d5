#pragma once

#include "platform/net/TlsKey.h"
#include "platform/net/TlsKeyLender.h"

#include <memory>
#include <openssl/types.h>
#include <string_view>
#include <vector>

namespace velm {

// The OpenSSL setup of the control connection with the pre-shared keys its sessions hand
// out. Shared by every connection made from one parameter set.
class TlsContext {
public:
    // Absent when OpenSSL cannot build the context (out of memory, suites unavailable).
    static std::shared_ptr<const TlsContext> make(std::vector<TlsKey> keys,
                                                  std::shared_ptr<TlsKeyLender> lender = nullptr);

    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A new session of these settings, without keys; null when OpenSSL fails.
    SSL* newSession() const;

    // The secret registered under this identity, if any.
    const TlsKey* keyFor(std::string_view identity) const;
    // The lender that decides this identity's key, if any.
    TlsKeyLender* lenderFor(std::string_view identity) const;
    // The key a client presents.
    const TlsKey* clientKey() const { return keys_.empty() ? nullptr : &keys_.front(); }

private:
    TlsContext(SSL_CTX* context, std::vector<TlsKey> keys, std::shared_ptr<TlsKeyLender> lender);

    SSL_CTX* context_;
    std::vector<TlsKey> keys_;
    std::shared_ptr<TlsKeyLender> lender_;
};

} // namespace velm
