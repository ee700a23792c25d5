#include "tests/support/RawTls.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace velm::test {

namespace {

void boundReads(int fd) {
    timeval limit{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

RawSocket::~RawSocket() {
    close();
}

std::unique_ptr<RawSocket> RawSocket::connect(std::uint16_t port) {
    return connected(::socket(AF_INET, SOCK_STREAM, 0), port);
}

std::unique_ptr<RawSocket> RawSocket::connectThroughSmallWindow(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int segment = 536;
    const int window = 4096;
    ::setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    return connected(fd, port);
}

std::unique_ptr<RawSocket> RawSocket::connected(int fd, std::uint16_t port) {
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    boundReads(fd);
    return std::make_unique<RawSocket>(fd);
}

std::unique_ptr<RawSocket> RawSocket::connectFrom(const std::string& source, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    const sockaddr_in address = loopback(port);
    if (::inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    boundReads(fd);
    return std::make_unique<RawSocket>(fd);
}

bool RawSocket::peerClosed() const {
    pollfd watched{fd_, POLLRDHUP, 0};
    return ::poll(&watched, 1, 0) == 1 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool RawSocket::sendAll(ByteView bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t result = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (result <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

Bytes RawSocket::readToEnd(std::size_t limit) {
    Bytes all;
    std::uint8_t buffer[16384];
    while (all.size() < limit) {
        const ssize_t result = ::recv(fd_, buffer, sizeof buffer, 0);
        if (result <= 0) {
            break;
        }
        all.insert(all.end(), buffer, buffer + result);
    }
    return all;
}

void RawSocket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RawListener::RawListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::listen(fd_, 64);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    boundReads(fd_); // also bounds accept()
}

std::uint16_t RawListener::portOutsideEphemeralRange() {
    int low = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low;
    const int first = 10000;
    const int count = std::max(low - first, 1);
    const int start = static_cast<int>(std::random_device()() % static_cast<unsigned>(count));
    for (int step = 0; step < count; ++step) {
        const auto port = static_cast<std::uint16_t>(first + (start + step) % count);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free) {
            return port;
        }
    }
    return 0;
}

RawListener::~RawListener() {
    ::close(fd_);
}

std::unique_ptr<RawSocket> RawListener::accept() {
    const int fd = ::accept(fd_, nullptr, nullptr);
    if (fd < 0) {
        return nullptr;
    }
    boundReads(fd);
    return std::make_unique<RawSocket>(fd);
}

namespace {

RawTlsPeer::Options& optionsOf(SSL* ssl) {
    return *static_cast<RawTlsPeer::Options*>(SSL_get_app_data(ssl));
}

unsigned int serverKey(SSL* ssl, const char* identity, unsigned char* psk, unsigned int maxLength) {
    const auto& options = optionsOf(ssl);
    if (identity == nullptr || options.identity != identity || options.key.size() > maxLength) {
        return 0;
    }
    std::memcpy(psk, options.key.data(), options.key.size());
    return static_cast<unsigned int>(options.key.size());
}

unsigned int clientKey(SSL* ssl, const char*, char* identity, unsigned int maxIdentity, unsigned char* psk,
                       unsigned int maxLength) {
    const auto& options = optionsOf(ssl);
    if (options.identity.size() >= maxIdentity || options.key.size() > maxLength) {
        return 0;
    }
    std::memcpy(identity, options.identity.c_str(), options.identity.size() + 1);
    std::memcpy(psk, options.key.data(), options.key.size());
    return static_cast<unsigned int>(options.key.size());
}

} // namespace

void recordAlerts(SSL* ssl, std::optional<std::uint8_t>* alert) {
    SSL_set_msg_callback_arg(ssl, alert);
    SSL_set_msg_callback(ssl, [](int written, int, int type, const void* bytes, std::size_t length, SSL*,
                                 void* argument) {
        if (!written && type == SSL3_RT_ALERT && length == 2) {
            *static_cast<std::optional<std::uint8_t>*>(argument) = static_cast<const std::uint8_t*>(bytes)[1];
        }
    });
}

RawTlsPeer::RawTlsPeer(const Options& options) : options_(options) {
    context_ = SSL_CTX_new(TLS_method());
    SSL_CTX_set_min_proto_version(context_, options_.minVersion);
    SSL_CTX_set_max_proto_version(context_, options_.maxVersion);
    SSL_CTX_set_cipher_list(context_, options_.ciphers.c_str());
    SSL_CTX_set_psk_server_callback(context_, serverKey);
    SSL_CTX_set_psk_client_callback(context_, clientKey);
    ssl_ = SSL_new(context_);
    SSL_set_app_data(ssl_, &options_);
    recordAlerts(ssl_, &alert_);
    // OpenSSL writes with write(): a peer that drops the connection must fail the handshake, not end
    // the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}

void RawTlsPeer::handshake(std::unique_ptr<RawSocket> socket, bool isServer) {
    socket_ = std::move(socket);
    SSL_set_fd(ssl_, socket_->fd());
    handshakeSucceeded_ = (isServer ? SSL_accept(ssl_) : SSL_connect(ssl_)) == 1;
    ERR_clear_error();
}

RawTlsPeer::~RawTlsPeer() {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
}

// The context comes first, so that the hello leaves as soon as the connection is up, as a real
// client's does.
std::unique_ptr<RawTlsPeer> RawTlsPeer::connect(std::uint16_t port, const Options& options,
                                                const std::function<void(RawSocket&)>& onAnswer) {
    std::unique_ptr<RawTlsPeer> peer(new RawTlsPeer(options));
    auto socket =
        options.source.empty() ? RawSocket::connect(port) : RawSocket::connectFrom(options.source, port);
    if (!socket) {
        return nullptr;
    }
    if (onAnswer) {
        peer->socket_ = std::move(socket);
        SSL_set_fd(peer->ssl_, peer->socket_->fd());
        if (!peer->sendHelloAndAwaitAnswer()) {
            ERR_clear_error();
            return peer;
        }
        onAnswer(*peer->socket_);
        socket = std::move(peer->socket_);
    }
    peer->handshake(std::move(socket), false);
    return peer;
}

bool RawTlsPeer::sendHelloAndAwaitAnswer() {
    const int fd = socket_->fd();
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const int result = SSL_connect(ssl_);
    const bool helloSent = result != 1 && SSL_get_error(ssl_, result) == SSL_ERROR_WANT_READ;
    ::fcntl(fd, F_SETFL, flags);
    // A handshake record is the server's answer; an end without one is a connection dropped unanswered.
    std::uint8_t first = 0;
    return helloSent && ::recv(fd, &first, 1, MSG_PEEK) == 1 && first == 0x16;
}

Bytes RawTlsPeer::clientHello(const Options& options) {
    SSL_CTX* context = SSL_CTX_new(TLS_method());
    SSL_CTX_set_min_proto_version(context, options.minVersion);
    SSL_CTX_set_max_proto_version(context, options.maxVersion);
    SSL_CTX_set_cipher_list(context, options.ciphers.c_str());
    SSL_CTX_set_psk_client_callback(context, clientKey);
    SSL* ssl = SSL_new(context);
    Options kept = options;
    SSL_set_app_data(ssl, &kept);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out);
    SSL_connect(ssl); // wants the server's answer, which never comes
    Bytes hello(static_cast<std::size_t>(BIO_pending(out)));
    BIO_read(out, hello.data(), static_cast<int>(hello.size()));
    SSL_free(ssl);
    SSL_CTX_free(context);
    ERR_clear_error();
    return hello;
}

std::unique_ptr<RawTlsPeer> RawTlsPeer::accept(std::unique_ptr<RawSocket> socket, const Options& options) {
    std::unique_ptr<RawTlsPeer> peer(new RawTlsPeer(options));
    peer->handshake(std::move(socket), true);
    return peer;
}

std::optional<Bytes> RawTlsPeer::binding() const {
    Bytes out(32);
    const char label[] = "velm-session-binding-v1";
    if (SSL_export_keying_material(ssl_, out.data(), out.size(), label, sizeof label - 1, nullptr, 0, 0) !=
        1) {
        return std::nullopt;
    }
    return out;
}

std::uint16_t RawTlsPeer::cipherSuite() const {
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_);
    return cipher == nullptr ? 0 : static_cast<std::uint16_t>(SSL_CIPHER_get_protocol_id(cipher));
}

int RawTlsPeer::version() const {
    return SSL_version(ssl_);
}

bool RawTlsPeer::write(ByteView bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const int result = SSL_write(ssl_, bytes.data() + written, static_cast<int>(bytes.size() - written));
        if (result <= 0) {
            ERR_clear_error();
            return false;
        }
        written += static_cast<std::size_t>(result);
    }
    return true;
}

Bytes RawTlsPeer::readToEnd() {
    Bytes all;
    std::uint8_t buffer[16384];
    for (;;) {
        const int result = SSL_read(ssl_, buffer, sizeof buffer);
        if (result <= 0) {
            ERR_clear_error();
            return all;
        }
        all.insert(all.end(), buffer, buffer + result);
    }
}

Bytes RawTlsPeer::readExactly(std::size_t count) {
    Bytes all(count);
    std::size_t filled = 0;
    while (filled < count) {
        const int result = SSL_read(ssl_, all.data() + filled, static_cast<int>(count - filled));
        if (result <= 0) {
            ERR_clear_error();
            all.resize(filled);
            return all;
        }
        filled += static_cast<std::size_t>(result);
    }
    return all;
}

Bytes RawTlsPeer::renegotiationRequests(std::size_t count) const {
    // The client's write key and implicit nonce from the session's key block (RFC 5246, 6.3).
    std::uint8_t master[SSL_MAX_MASTER_KEY_LENGTH];
    const std::size_t masterLength = SSL_SESSION_get_master_key(SSL_get_session(ssl_), master, sizeof master);
    std::uint8_t randoms[2 * SSL3_RANDOM_SIZE];
    SSL_get_server_random(ssl_, randoms, SSL3_RANDOM_SIZE);
    SSL_get_client_random(ssl_, randoms + SSL3_RANDOM_SIZE, SSL3_RANDOM_SIZE);
    char label[] = "key expansion";
    char digest[] = "SHA256";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, master, masterLength),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, label, sizeof label - 1),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, randoms, sizeof randoms),
        OSSL_PARAM_construct_end()};
    std::uint8_t keyBlock[40]; // both write keys of 16 bytes, then both implicit nonces of 4
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
    EVP_KDF_CTX* derivation = EVP_KDF_CTX_new(kdf);
    EVP_KDF_derive(derivation, keyBlock, sizeof keyBlock, parameters);
    EVP_KDF_CTX_free(derivation);
    EVP_KDF_free(kdf);

    // A ClientHello header alone: the server looks at no more before it refuses.
    const std::uint8_t hello[4] = {1, 0, 0, 0};
    Bytes records;
    EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
    for (std::uint64_t sequence = 1; sequence <= count; ++sequence) {
        std::uint8_t nonce[12];
        std::memcpy(nonce, keyBlock + 32, 4);
        std::uint8_t header[13]; // the sequence number, then the record's type, version and length
        for (int i = 0; i < 8; ++i) {
            nonce[4 + i] = header[i] = static_cast<std::uint8_t>(sequence >> (56 - 8 * i));
        }
        const std::uint8_t rest[5] = {0x16, 3, 3, 0, sizeof hello};
        std::memcpy(header + 8, rest, sizeof rest);
        std::uint8_t sealed[sizeof hello + 16];
        int length = 0;
        EVP_EncryptInit_ex(cipher, EVP_aes_128_gcm(), nullptr, keyBlock, nonce);
        EVP_EncryptUpdate(cipher, nullptr, &length, header, sizeof header);
        EVP_EncryptUpdate(cipher, sealed, &length, hello, sizeof hello);
        EVP_EncryptFinal_ex(cipher, sealed + length, &length);
        EVP_CIPHER_CTX_ctrl(cipher, EVP_CTRL_GCM_GET_TAG, 16, sealed + sizeof hello);
        const std::uint8_t recordHeader[5] = {0x16, 3, 3, 0, 8 + sizeof sealed};
        records.insert(records.end(), recordHeader, recordHeader + sizeof recordHeader);
        records.insert(records.end(), nonce + 4, nonce + 12);
        records.insert(records.end(), sealed, sealed + sizeof sealed);
    }
    EVP_CIPHER_CTX_free(cipher);
    return records;
}

void RawTlsPeer::closeNotify() {
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

} // namespace velm::test
