#include "platform/net/TlsEngine.h"

#include "platform/log/Log.h"
#include "platform/net/TlsContext.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

namespace velm {

namespace {

const Log tlsEngineLog("net");

// As long as every key the host holds: a stand-in of another length would need no more than
// a guess to tell apart.
constexpr std::size_t standInKeySize = 32;

} // namespace

// The memory transport under the SSL object. The engine's lock is held whenever
// OpenSSL calls into it, because every SSL call happens under that lock.
struct TlsEngine::Io {
    static int read(BIO* bio, char* out, int size) {
        auto* engine = static_cast<TlsEngine*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        const std::size_t available = engine->inboundEnd_ - engine->inboundBegin_;
        if (available == 0) {
            if (engine->inboundFinished_) {
                return 0;
            }
            BIO_set_retry_read(bio);
            return -1;
        }
        const std::size_t count =
            std::min<std::size_t>(available, static_cast<std::size_t>(std::max(size, 0)));
        std::memcpy(out, engine->inbound_.get() + engine->inboundBegin_, count);
        engine->inboundBegin_ += count;
        return static_cast<int>(count);
    }

    static int write(BIO* bio, const char* data, int size) {
        auto* engine = static_cast<TlsEngine*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        if (size <= 0) {
            return 0;
        }
        engine->outbound_.insert(engine->outbound_.end(), data, data + size);
        return size;
    }

    static long control(BIO* /*bio*/, int command, long /*number*/, void* /*pointer*/) {
        return command == BIO_CTRL_FLUSH ? 1 : 0;
    }

    static int create(BIO* bio) {
        BIO_set_init(bio, 1);
        return 1;
    }

    static const BIO_METHOD* method() {
        static const BIO_METHOD* const made = [] {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "velm memory");
            if (m != nullptr) {
                BIO_meth_set_read(m, read);
                BIO_meth_set_write(m, write);
                BIO_meth_set_ctrl(m, control);
                BIO_meth_set_create(m, create);
            }
            return m;
        }();
        return made;
    }
};

// OpenSSL's key callbacks, which find the engine in the session's app data. They run inside
// the engine's calls, under its lock.
struct TlsEngine::Keys {
    static TlsEngine& engineOf(SSL* ssl) { return *static_cast<TlsEngine*>(SSL_get_app_data(ssl)); }

    static unsigned int server(SSL* ssl, const char* identity, unsigned char* psk, unsigned int maxLength) {
        return engineOf(ssl).serverKey(identity == nullptr ? std::string_view() : std::string_view(identity),
                                       {psk, maxLength});
    }

    static unsigned int client(SSL* ssl, const char* /*hint*/, char* identity, unsigned int maxIdentityLength,
                               unsigned char* psk, unsigned int maxLength) {
        const TlsKey* key = engineOf(ssl).context_->clientKey();
        // The identity buffer must also hold the terminating zero.
        if (key == nullptr || key->identity.size() >= maxIdentityLength || key->secret.empty() ||
            key->secret.size() > maxLength) {
            return 0;
        }
        std::memcpy(identity, key->identity.c_str(), key->identity.size() + 1);
        std::memcpy(psk, key->secret.data(), key->secret.size());
        return static_cast<unsigned int>(key->secret.size());
    }
};

TlsEngine::TlsEngine(const std::shared_ptr<const TlsContext>& context, Role role) : context_(context) {
    const BIO_METHOD* method = Io::method();
    if (!context || method == nullptr) {
        error_ = {NetError::Kind::tls, "tls setup failed"};
        return;
    }
    ssl_ = context->newSession();
    BIO* bio = BIO_new(method);
    if (ssl_ == nullptr || bio == nullptr) {
        BIO_free(bio);
        SSL_free(ssl_);
        ssl_ = nullptr;
        error_ = {NetError::Kind::tls, "tls setup failed"};
        return;
    }
    BIO_set_data(bio, this);
    SSL_set_bio(ssl_, bio, bio); // one reference serves both directions
    SSL_set_app_data(ssl_, this);
    if (role == Role::client) {
        SSL_set_psk_client_callback(ssl_, Keys::client);
        SSL_set_connect_state(ssl_);
    } else {
        SSL_set_psk_server_callback(ssl_, Keys::server);
        SSL_set_accept_state(ssl_);
    }
}

TlsEngine::~TlsEngine() {
    SSL_free(ssl_);
}

TlsEngine::Status TlsEngine::handshake() {
    std::lock_guard guard(lock_);
    if (ssl_ == nullptr) {
        return Status::failed;
    }
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_);
    if (result == 1) {
        settleLoan(TlsKeyLender::Outcome::admitted);
        return Status::ok;
    }
    const Status status = statusOf(result);
    if (status == Status::failed) {
        settleLoan(keyWasTested() ? TlsKeyLender::Outcome::rejected : TlsKeyLender::Outcome::unused);
        logRefusal();
    }
    return status;
}

void TlsEngine::endHandshake() {
    std::lock_guard guard(lock_);
    settleLoan(TlsKeyLender::Outcome::unused);
}

unsigned int TlsEngine::serverKey(std::string_view identity, std::span<std::uint8_t> out) {
    settleLoan(TlsKeyLender::Outcome::unused); // OpenSSL asks once; a second ask replaces the first
    const SecretBytes* secret = nullptr;
    if (TlsKeyLender* lender = context_->lenderFor(identity)) {
        loan_ = lender->lend(identity);
        keyChoice_ = loan_ ? KeyChoice::lent : KeyChoice::notLent;
        secret = loan_ ? &loan_->secret() : nullptr;
    } else if (const TlsKey* key = context_->keyFor(identity)) {
        keyChoice_ = KeyChoice::listed;
        secret = &key->secret;
    } else {
        keyChoice_ = KeyChoice::unknown;
    }
    if (secret != nullptr && !secret->empty() && secret->size() <= out.size()) {
        std::memcpy(out.data(), secret->data(), secret->size());
        return static_cast<unsigned int>(secret->size());
    }
    const std::size_t size = std::min(standInKeySize, out.size());
    if (RAND_bytes(out.data(), static_cast<int>(size)) != 1) {
        return 0; // no stand-in: OpenSSL refuses the identity outright
    }
    return static_cast<unsigned int>(size);
}

bool TlsEngine::keyWasTested() const {
    // A wrong key shows only in the record after the client's ChangeCipherSpec: its Finished
    // message, which then fails to decrypt.
    const OSSL_HANDSHAKE_STATE state = SSL_get_state(ssl_);
    return error_.kind == NetError::Kind::tls && (state == TLS_ST_SR_CHANGE || state == TLS_ST_SR_FINISHED);
}

void TlsEngine::settleLoan(TlsKeyLender::Outcome outcome) {
    if (loan_) {
        if (outcome == TlsKeyLender::Outcome::admitted) {
            lentKeyTag_ = loan_->tag();
        }
        loan_->settle(outcome);
        loan_.reset();
    }
}

void TlsEngine::logRefusal() const {
    // The peer saw a wrong key either way; the host's log tells what it really was.
    if (error_.kind != NetError::Kind::tls) {
        return;
    }
    if (keyChoice_ == KeyChoice::unknown) {
        tlsEngineLog.info("handshake failed: unknown identity");
    } else if (keyChoice_ == KeyChoice::notLent) {
        tlsEngineLog.info("handshake failed: the identity's key is not lent now");
    }
}

TlsEngine::Status TlsEngine::read(std::span<std::uint8_t> out, std::size_t& filled) {
    std::lock_guard guard(lock_);
    if (ssl_ == nullptr) {
        return Status::failed;
    }
    std::size_t count = 0;
    Status status = Status::ok;
    while (count < out.size()) {
        ERR_clear_error();
        const int wanted = static_cast<int>(std::min<std::size_t>(out.size() - count, INT_MAX));
        const int result = SSL_read(ssl_, out.data() + count, wanted);
        if (result <= 0) {
            status = statusOf(result);
            break;
        }
        count += static_cast<std::size_t>(result);
    }
    filled += count;
    return status;
}

TlsEngine::Status TlsEngine::write(ByteView plaintext) {
    std::lock_guard guard(lock_);
    if (ssl_ == nullptr) {
        return Status::failed;
    }
    std::size_t written = 0;
    while (written < plaintext.size()) {
        ERR_clear_error();
        const int chunk = static_cast<int>(std::min<std::size_t>(plaintext.size() - written, INT_MAX));
        const int result = SSL_write(ssl_, plaintext.data() + written, chunk);
        if (result <= 0) {
            return statusOf(result);
        }
        written += static_cast<std::size_t>(result);
    }
    return Status::ok;
}

void TlsEngine::shutdown() {
    std::lock_guard guard(lock_);
    if (ssl_ != nullptr && SSL_is_init_finished(ssl_)) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
    }
}

NetError TlsEngine::error() const {
    std::lock_guard guard(lock_);
    return error_;
}

TlsEngine::Status TlsEngine::statusOf(int result) {
    const int code = SSL_get_error(ssl_, result);
    switch (code) {
    case SSL_ERROR_WANT_READ:
        return Status::wantsInput;
    case SSL_ERROR_ZERO_RETURN:
        error_ = {NetError::Kind::closed, "peer sent close_notify"};
        return Status::closed;
    case SSL_ERROR_SSL: {
        const unsigned long detail = ERR_peek_error();
        if (ERR_GET_REASON(detail) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            error_ = {NetError::Kind::closed, "connection closed by peer"};
        } else {
            char text[256];
            ERR_error_string_n(detail, text, sizeof text);
            error_ = {NetError::Kind::tls, text};
        }
        break;
    }
    case SSL_ERROR_SYSCALL:
        error_ = {NetError::Kind::closed, "connection closed by peer"};
        break;
    default:
        error_ = {NetError::Kind::tls, "tls error " + std::to_string(code)};
        break;
    }
    ERR_clear_error();
    return Status::failed;
}

std::span<std::uint8_t> TlsEngine::inboundSpace(std::size_t size) {
    std::lock_guard guard(lock_);
    const std::size_t live = inboundEnd_ - inboundBegin_;
    if (live + size > inboundCapacity_) {
        auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(live + size);
        if (live > 0) {
            std::memcpy(grown.get(), inbound_.get() + inboundBegin_, live);
        }
        inbound_ = std::move(grown);
        inboundCapacity_ = live + size;
    } else if (inboundBegin_ > 0 && live > 0) {
        std::memmove(inbound_.get(), inbound_.get() + inboundBegin_, live);
    }
    inboundBegin_ = 0;
    inboundEnd_ = live;
    return {inbound_.get() + inboundEnd_, size};
}

void TlsEngine::commitInbound(std::size_t size) {
    std::lock_guard guard(lock_);
    inboundEnd_ = std::min(inboundEnd_ + size, inboundCapacity_);
}

void TlsEngine::commitEnd() {
    std::lock_guard guard(lock_);
    inboundFinished_ = true;
}

bool TlsEngine::hasOutput() const {
    std::lock_guard guard(lock_);
    return !outbound_.empty();
}

std::size_t TlsEngine::outputSize() const {
    std::lock_guard guard(lock_);
    return outbound_.size();
}

void TlsEngine::takeOutput(Bytes& into) {
    std::lock_guard guard(lock_);
    into.clear();
    std::swap(into, outbound_);
}

std::optional<Bytes> TlsEngine::exportKeyingMaterial(std::string_view label, std::size_t length) const {
    std::lock_guard guard(lock_);
    if (ssl_ == nullptr || !SSL_is_init_finished(ssl_) || length == 0) {
        return std::nullopt;
    }
    Bytes material(length);
    const int result = SSL_export_keying_material(ssl_, material.data(), material.size(), label.data(),
                                                  label.size(), nullptr, 0, 0);
    ERR_clear_error();
    if (result != 1) {
        return std::nullopt;
    }
    return material;
}

std::optional<std::uint16_t> TlsEngine::cipherSuite() const {
    std::lock_guard guard(lock_);
    if (ssl_ == nullptr || !SSL_is_init_finished(ssl_)) {
        return std::nullopt;
    }
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_);
    if (cipher == nullptr) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(SSL_CIPHER_get_protocol_id(cipher));
}

std::optional<std::string> TlsEngine::pskIdentity() const {
    std::lock_guard guard(lock_);
    if (ssl_ == nullptr || !SSL_is_init_finished(ssl_)) {
        return std::nullopt;
    }
    const char* identity = SSL_get_psk_identity(ssl_);
    if (identity == nullptr) {
        return std::nullopt;
    }
    return std::string(identity);
}

std::optional<std::uint64_t> TlsEngine::lentKeyTag() const {
    std::lock_guard guard(lock_);
    return lentKeyTag_;
}

std::optional<std::string> TlsEngine::offeredIdentity() const {
    std::lock_guard guard(lock_);
    const char* identity = ssl_ == nullptr ? nullptr : SSL_get_psk_identity(ssl_);
    if (identity == nullptr) {
        return std::nullopt;
    }
    return std::string(identity);
}

bool TlsEngine::hasHeardHello() const {
    std::lock_guard guard(lock_);
    if (ssl_ == nullptr) {
        return false;
    }
    // The state moves past these once the hello has been read whole and processed.
    const OSSL_HANDSHAKE_STATE state = SSL_get_state(ssl_);
    return state != TLS_ST_BEFORE && state != TLS_ST_SR_CLNT_HELLO;
}

} // namespace velm
