// The bare OpenSSL baseline that the TLS benchmarks measure against: a blocking TLS 1.2
// pre-shared-key server and client over loopback with the suite our connections negotiate,
// no framework in between.
#pragma once

#include "platform/core/Bytes.h"
#include "platform/net/HostPort.h"

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velm::bench {

inline constexpr std::size_t bareReadSize = 65536; // what the control channel asks for
inline constexpr const char* bareIdentity = "bench";
inline constexpr const char* bareSuite = "ECDHE-PSK-CHACHA20-POLY1305"; // what our connections negotiate

inline const Bytes& bareKey() {
    static const Bytes key(32, 0x42);
    return key;
}

inline unsigned int bareServerKey(SSL*, const char* id, unsigned char* psk, unsigned int max) {
    if (id == nullptr || std::strcmp(id, bareIdentity) != 0 || bareKey().size() > max) {
        return 0;
    }
    std::memcpy(psk, bareKey().data(), bareKey().size());
    return static_cast<unsigned int>(bareKey().size());
}

inline unsigned int bareClientKey(SSL*, const char*, char* id, unsigned int maxId, unsigned char* psk,
                                  unsigned int max) {
    if (std::strlen(bareIdentity) >= maxId || bareKey().size() > max) {
        return 0;
    }
    std::strcpy(id, bareIdentity);
    std::memcpy(psk, bareKey().data(), bareKey().size());
    return static_cast<unsigned int>(bareKey().size());
}

inline SSL_CTX* bareContext() {
    SSL_CTX* context = SSL_CTX_new(TLS_method());
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_cipher_list(context, bareSuite);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_psk_server_callback(context, bareServerKey);
    SSL_CTX_set_psk_client_callback(context, bareClientKey);
    return context;
}

inline sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

inline int listenOnLoopback(std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 128);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

inline int connectToLoopback(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const sockaddr_in address = loopback(port);
    connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
}

// Reads exactly `size` bytes; false when the connection ended first.
inline bool bareReadExactly(SSL* ssl, std::uint8_t* into, std::size_t size) {
    for (std::size_t got = 0; got < size;) {
        const int count = SSL_read(ssl, into + got, static_cast<int>(std::min(size - got, bareReadSize)));
        if (count <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(count);
    }
    return true;
}

// Accepts connections one after another, handshakes and runs `serve` on each, then closes it.
class BareServer {
public:
    using Serve = std::function<void(SSL*)>;
    enum class Mode { readUntilClose, handshakeOnly };

    explicit BareServer(Mode mode)
        : BareServer(mode == Mode::readUntilClose ? Serve(readUntilClose) : Serve()) {}
    explicit BareServer(Serve serve)
        : serve_(std::move(serve)), context_(bareContext()), listenFd_(listenOnLoopback(port_)),
          thread_([this] { run(); }) {}

    ~BareServer() {
        shutdown(listenFd_, SHUT_RDWR);
        close(listenFd_);
        thread_.join();
        SSL_CTX_free(context_);
    }

    std::uint16_t port() const { return port_; }
    HostPort endpoint() const { return {"127.0.0.1", port_}; }

    static void readUntilClose(SSL* ssl) {
        std::vector<std::uint8_t> buffer(bareReadSize);
        while (SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size())) > 0) {
        }
    }

private:
    void run() {
        for (;;) {
            const int fd = accept(listenFd_, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            SSL* ssl = SSL_new(context_);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1 && serve_) {
                serve_(ssl);
            }
            ERR_clear_error();
            SSL_free(ssl);
            close(fd);
        }
    }

    Serve serve_;
    SSL_CTX* context_;
    std::uint16_t port_ = 0;
    int listenFd_;
    std::thread thread_;
};

struct BareClient {
    explicit BareClient(SSL_CTX* context, std::uint16_t port)
        : fd(connectToLoopback(port)), ssl(SSL_new(context)) {
        SSL_set_fd(ssl, fd);
        ready = SSL_connect(ssl) == 1;
    }
    ~BareClient() {
        SSL_shutdown(ssl);
        SSL_free(ssl);
        close(fd);
    }
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;

    int fd;
    SSL* ssl;
    bool ready = false;
};

// Pushes bytesPerRound bytes per iteration in writes of writeSize through a bare OpenSSL client.
inline void runBareBulk(benchmark::State& state, std::size_t writeSize, std::size_t bytesPerRound) {
    BareServer server(BareServer::Mode::readUntilClose);
    SSL_CTX* context = bareContext();
    {
        BareClient client(context, server.port());
        const Bytes chunk(writeSize, 0x5a);
        for (auto _ : state) {
            for (std::size_t sent = 0; sent < bytesPerRound; sent += writeSize) {
                if (SSL_write(client.ssl, chunk.data(), static_cast<int>(chunk.size())) <= 0) {
                    state.SkipWithError("bare write failed");
                    break;
                }
            }
        }
    }
    SSL_CTX_free(context);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesPerRound));
}

// One bare OpenSSL pre-shared-key handshake per iteration.
inline void runBareHandshake(benchmark::State& state) {
    BareServer server(BareServer::Mode::handshakeOnly);
    SSL_CTX* context = bareContext();
    for (auto _ : state) {
        BareClient client(context, server.port());
        if (!client.ready) {
            state.SkipWithError("bare handshake failed");
            break;
        }
    }
    SSL_CTX_free(context);
}

// `rounds` exchanges per iteration, one at a time: `askSize` bytes out, `answerSize` bytes back.
inline void runBareRoundTrips(benchmark::State& state, std::size_t askSize, std::size_t answerSize,
                              int rounds) {
    BareServer server([=](SSL* ssl) {
        std::vector<std::uint8_t> ask(askSize);
        const std::vector<std::uint8_t> answer(answerSize, 0x5a);
        while (bareReadExactly(ssl, ask.data(), ask.size()) &&
               SSL_write(ssl, answer.data(), static_cast<int>(answer.size())) > 0) {
        }
    });
    SSL_CTX* context = bareContext();
    {
        BareClient client(context, server.port());
        const std::vector<std::uint8_t> ask(askSize, 0x5a);
        std::vector<std::uint8_t> answer(answerSize);
        for (auto _ : state) {
            for (int round = 0; round < rounds; ++round) {
                if (SSL_write(client.ssl, ask.data(), static_cast<int>(ask.size())) <= 0 ||
                    !bareReadExactly(client.ssl, answer.data(), answer.size())) {
                    state.SkipWithError("bare exchange failed");
                    break;
                }
            }
        }
    }
    SSL_CTX_free(context);
}

// Streams `framesPerRound` writes of `frameSize` bytes one way per iteration; the reader
// acknowledges each round once it has read all of it.
inline void runBareSmallWrites(benchmark::State& state, std::size_t frameSize, std::size_t framesPerRound) {
    const std::size_t roundBytes = frameSize * framesPerRound;
    BareServer server([=](SSL* ssl) {
        std::vector<std::uint8_t> buffer(bareReadSize);
        const std::uint8_t ack = 1;
        for (std::size_t got = 0;;) {
            const int count = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
            if (count <= 0) {
                return;
            }
            got += static_cast<std::size_t>(count);
            if (got >= roundBytes) {
                got -= roundBytes;
                SSL_write(ssl, &ack, 1);
            }
        }
    });
    SSL_CTX* context = bareContext();
    {
        BareClient client(context, server.port());
        const std::vector<std::uint8_t> frame(frameSize, 0x5a);
        std::uint8_t ack = 0;
        for (auto _ : state) {
            for (std::size_t sent = 0; sent < framesPerRound; ++sent) {
                SSL_write(client.ssl, frame.data(), static_cast<int>(frame.size()));
            }
            if (!bareReadExactly(client.ssl, &ack, 1)) {
                state.SkipWithError("bare stream failed");
                break;
            }
        }
    }
    SSL_CTX_free(context);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * framesPerRound));
}

} // namespace velm::bench
