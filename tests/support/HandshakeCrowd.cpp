#include "tests/support/HandshakeCrowd.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <thread>

namespace velm::test {

namespace {

// A TLS record: type, version, a 16-bit length, then the body.
constexpr std::size_t recordHeaderSize = 5;

std::size_t firstRecordSize(const Bytes& flight) {
    if (flight.size() < recordHeaderSize) {
        return flight.size();
    }
    const std::size_t body = static_cast<std::size_t>(flight[3]) << 8 | flight[4];
    return std::min(flight.size(), recordHeaderSize + body);
}

unsigned int clientKey(SSL* ssl, const char*, char* identity, unsigned int maxIdentity, unsigned char* psk,
                       unsigned int maxLength) {
    const auto& options = *static_cast<const RawTlsPeer::Options*>(SSL_get_app_data(ssl));
    if (options.identity.size() >= maxIdentity || options.key.size() > maxLength) {
        return 0;
    }
    std::memcpy(identity, options.identity.c_str(), options.identity.size() + 1);
    std::memcpy(psk, options.key.data(), options.key.size());
    return static_cast<unsigned int>(options.key.size());
}

} // namespace

std::string HandshakeCrowd::source(std::size_t index, std::size_t perSource) {
    return "127.0.0." + std::to_string(2 + (index / std::max<std::size_t>(perSource, 1)) % 250);
}

std::vector<std::unique_ptr<RawTlsPeer>>
HandshakeCrowd::handshakes(std::uint16_t port, std::vector<RawTlsPeer::Options> clients) {
    // The listener may close a client's socket under it (at its cap, or to make room), and OpenSSL
    // writes without MSG_NOSIGNAL: such a client is to fail, not to end the test.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::unique_ptr<RawTlsPeer>> peers(clients.size());
    std::vector<std::thread> threads;
    threads.reserve(clients.size());
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (clients[i].source.empty()) {
            clients[i].source = source(i);
        }
        threads.emplace_back([&, i] { peers[i] = RawTlsPeer::connect(port, clients[i]); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return peers;
}

std::unique_ptr<HeldHandshake> HeldHandshake::connect(std::uint16_t port,
                                                      const RawTlsPeer::Options& options) {
    auto socket = RawSocket::connectFrom(options.source.empty() ? "127.0.0.1" : options.source, port);
    if (!socket) {
        return nullptr;
    }
    std::unique_ptr<HeldHandshake> held(new HeldHandshake(std::move(socket), options));
    return held->reachKeyExchange() ? std::move(held) : nullptr;
}

HeldHandshake::HeldHandshake(std::unique_ptr<RawSocket> socket, const RawTlsPeer::Options& options)
    : socket_(std::move(socket)), options_(options) {
    context_ = SSL_CTX_new(TLS_method());
    SSL_CTX_set_min_proto_version(context_, options_.minVersion);
    SSL_CTX_set_max_proto_version(context_, options_.maxVersion);
    SSL_CTX_set_cipher_list(context_, options_.ciphers.c_str());
    SSL_CTX_set_psk_client_callback(context_, clientKey);
    ssl_ = SSL_new(context_);
    SSL_set_app_data(ssl_, &options_);
    recordAlerts(ssl_, &alert_);
    inbound_ = BIO_new(BIO_s_mem());
    outbound_ = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl_, inbound_, outbound_);
    SSL_set_connect_state(ssl_);
}

HeldHandshake::~HeldHandshake() {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
}

// Reads the server's answers until the client has its second flight ready, then sends only the
// first record of it, the key exchange.
bool HeldHandshake::reachKeyExchange() {
    SSL_do_handshake(ssl_);
    if (!flush()) {
        return false;
    }
    std::uint8_t buffer[16384];
    while (BIO_ctrl_pending(outbound_) == 0) {
        const ssize_t size = ::recv(socket_->fd(), buffer, sizeof buffer, 0);
        if (size <= 0) {
            return false;
        }
        BIO_write(inbound_, buffer, static_cast<int>(size));
        const int result = SSL_do_handshake(ssl_);
        if (result != 1 && SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) {
            ERR_clear_error();
            return false;
        }
    }
    held_.resize(BIO_ctrl_pending(outbound_));
    BIO_read(outbound_, held_.data(), static_cast<int>(held_.size()));
    const std::size_t keyExchange = firstRecordSize(held_);
    const bool sent = socket_->sendAll(ByteView(held_).first(keyExchange));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(keyExchange));
    return sent;
}

bool HeldHandshake::flush() {
    Bytes out(BIO_ctrl_pending(outbound_));
    BIO_read(outbound_, out.data(), static_cast<int>(out.size()));
    return socket_->sendAll(out);
}

bool HeldHandshake::finish() {
    if (!socket_->sendAll(held_)) {
        return false;
    }
    held_.clear();
    std::uint8_t buffer[16384];
    for (;;) {
        const int result = SSL_do_handshake(ssl_);
        if (result == 1) {
            return true;
        }
        if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) {
            ERR_clear_error();
            return false;
        }
        const ssize_t size = ::recv(socket_->fd(), buffer, sizeof buffer, 0);
        if (size <= 0) {
            return false;
        }
        BIO_write(inbound_, buffer, static_cast<int>(size));
    }
}

void HeldHandshake::abandon() {
    socket_->close();
}

} // namespace velm::test
