#pragma once

#include "platform/core/Bytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <openssl/types.h>
#include <optional>
#include <string>

namespace velm::test {

// A plain blocking TCP socket on loopback. Reads give up after a generous bound so a
// broken test cannot hang.
class RawSocket {
public:
    explicit RawSocket(int fd) : fd_(fd) {}
    ~RawSocket();
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    static std::unique_ptr<RawSocket> connect(std::uint16_t port);
    // From another loopback address (127.0.0.0/8 is all loopback), as a second peer would.
    static std::unique_ptr<RawSocket> connectFrom(const std::string& source, std::uint16_t port);
    // As a peer behind a slow link: it takes small segments into a small window, so that what the other
    // end sends fills that end's own socket buffer after a few kilobytes.
    static std::unique_ptr<RawSocket> connectThroughSmallWindow(std::uint16_t port);

    int fd() const { return fd_; }
    // The peer closed its end (or reset it), whatever it sent before that is still unread.
    bool peerClosed() const;
    bool sendAll(ByteView bytes);
    // Bytes read until the peer closes or resets; the reads stop at `limit`.
    Bytes readToEnd(std::size_t limit = 1 << 20);
    void close();

private:
    // Connects `fd` to the port on 127.0.0.1; nothing when that fails.
    static std::unique_ptr<RawSocket> connected(int fd, std::uint16_t port);

    int fd_;
};

// A listening socket on 127.0.0.1 with a system-chosen port.
class RawListener {
public:
    RawListener();
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    std::uint16_t port() const { return port_; }
    std::unique_ptr<RawSocket> accept();

    // A port free now, below the range the system hands out for the local ends of connections and for
    // port 0: a test that names it as a listener's choice does not race other programs' connections.
    static std::uint16_t portOutsideEphemeralRange();

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// One end of a TLS 1.2 pre-shared-key session driven directly through OpenSSL, as a
// reference peer for the connection layer.
class RawTlsPeer {
public:
    struct Options {
        std::string identity;
        Bytes key;
        std::string ciphers = "ECDHE-PSK-CHACHA20-POLY1305:PSK-AES256-GCM-SHA384:PSK-AES128-GCM-SHA256";
        int minVersion = 0x0303; // TLS 1.2
        int maxVersion = 0x0303;
        // The loopback address a client connects from; 127.0.0.1 when empty.
        std::string source{};
    };

    // Runs the handshake; handshakeSucceeded() tells how it went. `onAnswer`, when given, is called
    // with the socket once the server answered the hello, and the handshake goes on only when it
    // returns.
    static std::unique_ptr<RawTlsPeer> connect(std::uint16_t port, const Options& options,
                                               const std::function<void(RawSocket&)>& onAnswer = nullptr);
    static std::unique_ptr<RawTlsPeer> accept(std::unique_ptr<RawSocket> socket, const Options& options);
    // The first flight a client with these options sends: its whole hello.
    static Bytes clientHello(const Options& options);

    ~RawTlsPeer();
    RawTlsPeer(const RawTlsPeer&) = delete;
    RawTlsPeer& operator=(const RawTlsPeer&) = delete;

    bool handshakeSucceeded() const { return handshakeSucceeded_; }
    // The description of the alert the other end sent, if it sent one.
    std::optional<std::uint8_t> alert() const { return alert_; }
    std::optional<Bytes> binding() const;
    std::uint16_t cipherSuite() const;
    int version() const;
    bool write(ByteView bytes);
    // Plaintext until close_notify, the end of the stream or an error.
    Bytes readToEnd();
    Bytes readExactly(std::size_t count);
    void closeNotify();
    // `count` records, each holding a request for a new handshake, sealed as this client's next
    // records of its session, for the socket as they are; only for the suite PSK-AES128-GCM-SHA256
    // and before any other record of this client's since the handshake.
    Bytes renegotiationRequests(std::size_t count) const;
    RawSocket& socket() { return *socket_; }

private:
    explicit RawTlsPeer(const Options& options);
    void handshake(std::unique_ptr<RawSocket> socket, bool isServer);
    // Sends the hello and waits for the server's first answer; false when none came.
    bool sendHelloAndAwaitAnswer();

    std::unique_ptr<RawSocket> socket_;
    Options options_;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    bool handshakeSucceeded_ = false;
    std::optional<std::uint8_t> alert_;
};

// Notes the description of every alert `ssl` receives in `*alert`.
void recordAlerts(SSL* ssl, std::optional<std::uint8_t>* alert);

} // namespace velm::test
