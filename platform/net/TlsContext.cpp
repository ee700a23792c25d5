#include "platform/net/TlsContext.h"

#include "platform/net/TlsParameters.h"

#include <cstring>
#include <openssl/ssl.h>

namespace velm {

namespace {

const TlsContext* owner(SSL* ssl) {
    return static_cast<const TlsContext*>(SSL_get_app_data(ssl));
}

unsigned int serverKey(SSL* ssl, const char* identity, unsigned char* psk, unsigned int maxLength) {
    if (identity == nullptr) {
        return 0;
    }
    const TlsKey* key = owner(ssl)->keyFor(identity);
    if (key == nullptr || key->secret.empty() || key->secret.size() > maxLength) {
        return 0; // OpenSSL answers with unknown_psk_identity
    }
    std::memcpy(psk, key->secret.data(), key->secret.size());
    return static_cast<unsigned int>(key->secret.size());
}

unsigned int clientKey(SSL* ssl, const char* /*hint*/, char* identity, unsigned int maxIdentityLength,
                       unsigned char* psk, unsigned int maxLength) {
    const TlsKey* key = owner(ssl)->clientKey();
    // The identity buffer must also hold the terminating zero.
    if (key == nullptr || key->identity.size() >= maxIdentityLength || key->secret.empty() ||
        key->secret.size() > maxLength) {
        return 0;
    }
    std::memcpy(identity, key->identity.c_str(), key->identity.size() + 1);
    std::memcpy(psk, key->secret.data(), key->secret.size());
    return static_cast<unsigned int>(key->secret.size());
}

bool configure(SSL_CTX* context) {
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_psk_server_callback(context, serverKey);
    SSL_CTX_set_psk_client_callback(context, clientKey);
    return SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
           SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) == 1 &&
           SSL_CTX_set_cipher_list(context, TlsParameters::cipherList) == 1;
}

// Every parameter set shares one OpenSSL context, configured once: making one costs about a
// third of a handshake, and a channel makes its parameters right before it connects. The
// settings are the same for all; the keys travel with each session.
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

std::shared_ptr<const TlsContext> TlsContext::make(std::vector<TlsKey> keys) {
    SSL_CTX* context = sharedContext();
    if (context == nullptr || SSL_CTX_up_ref(context) != 1) {
        return nullptr;
    }
    return std::shared_ptr<const TlsContext>(new TlsContext(context, std::move(keys)));
}

SSL* TlsContext::newSession() const {
    SSL* ssl = SSL_new(context_);
    if (ssl != nullptr) {
        SSL_set_app_data(ssl, const_cast<TlsContext*>(this));
    }
    return ssl;
}

TlsContext::TlsContext(SSL_CTX* context, std::vector<TlsKey> keys)
    : context_(context), keys_(std::move(keys)) {}

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

} // namespace velm
