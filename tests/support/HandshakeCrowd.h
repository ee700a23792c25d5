#pragma once

#include "tests/support/RawTls.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm::test {

// Hostile peers on loopback: many TLS clients against one port at once, spread over sources of
// their own (127.0.0.2, 127.0.0.3, ...) so that the listener's limit of unfinished handshakes per
// source does not decide what a test sees.
class HandshakeCrowd {
public:
    // The source of client `index` when `perSource` clients share each source.
    static std::string source(std::size_t index, std::size_t perSource = 1);

    // One whole handshake per client, all begun at once, each on a thread of its own; a client's
    // own source is kept, an empty one becomes source(index). The peers in the clients' order,
    // null where the connection could not be made.
    static std::vector<std::unique_ptr<RawTlsPeer>> handshakes(std::uint16_t port,
                                                               std::vector<RawTlsPeer::Options> clients);
};

// A client that goes as far as its key exchange and then holds its ChangeCipherSpec and Finished
// back: the server has looked up the key for its identity, but has not checked it yet.
class HeldHandshake {
public:
    // Null when the connection fails or the server does not answer the hello.
    static std::unique_ptr<HeldHandshake> connect(std::uint16_t port, const RawTlsPeer::Options& options);

    ~HeldHandshake();
    HeldHandshake(const HeldHandshake&) = delete;
    HeldHandshake& operator=(const HeldHandshake&) = delete;

    // Sends what was held back and reads the answer; true when the handshake completed.
    bool finish();
    // Leaves without sending it.
    void abandon();
    // The server closed the connection (or reset it).
    bool peerClosed() const { return socket_->peerClosed(); }
    // The description of the alert the server sent, if it sent one.
    std::optional<std::uint8_t> alert() const { return alert_; }

private:
    HeldHandshake(std::unique_ptr<RawSocket> socket, const RawTlsPeer::Options& options);
    bool reachKeyExchange();
    bool flush();

    std::unique_ptr<RawSocket> socket_;
    RawTlsPeer::Options options_;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    BIO* inbound_ = nullptr;
    BIO* outbound_ = nullptr;
    Bytes held_;
    std::optional<std::uint8_t> alert_;
};

} // namespace velm::test
