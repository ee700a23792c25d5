#include "platform/net/TlsContext.h"

#include "platform/net/TlsParameters.h"

#include <openssl/ssl.h>

namespace velm {

namespace {

bool configure(SSL_CTX* context) {
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    return SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
           SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) == 1 &&
           SSL_CTX_set_cipher_list(context, TlsParameters::cipherList) == 1;
}

// Every parameter set shares one OpenSSL context, configured once: making one costs about a
// third of a handshake, and a channel makes its parameters right before it connects. The
// settings are the same for all; each session asks its engine for the keys.
SSL_CTX* sharedContext() {
    static SSL_CTX* const shared = [] {
        SSL_CTX* context = SSL_CTX_new(TLS_method());
        if (context != nullptr && !configure(context)) {
            SSL_CTX_free(context);
            return static_cast<SSL_CTX*>(nullptr);
        }
        return context;
    }();
    return shared;
}

} // namespace

std::shared_ptr<const TlsContext> TlsContext::make(std::vector<TlsKey> keys,
                                                   std::shared_ptr<TlsKeyLender> lender) {
    SSL_CTX* context = sharedContext();
    if (context == nullptr || SSL_CTX_up_ref(context) != 1) {
        return nullptr;
    }
    return std::shared_ptr<const TlsContext>(new TlsContext(context, std::move(keys), std::move(lender)));
}

SSL* TlsContext::newSession() const {
    return SSL_new(context_);
}

TlsContext::TlsContext(SSL_CTX* context, std::vector<TlsKey> keys, std::shared_ptr<TlsKeyLender> lender)
    : context_(context), keys_(std::move(keys)), lender_(std::move(lender)) {}

TlsContext::~TlsContext() {
    SSL_CTX_free(context_);
}

const TlsKey* TlsContext::keyFor(std::string_view identity) const {
    for (const auto& key : keys_) {
        if (key.identity == identity) {
            return &key;
        }
    }
    return nullptr;
}

TlsKeyLender* TlsContext::lenderFor(std::string_view identity) const {
    return lender_ && lender_->decides(identity) ? lender_.get() : nullptr;
}

} // namespace velm
