#pragma once

#include "platform/core/Bytes.h"
#include "platform/net/NetError.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <openssl/types.h>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

class TlsContext;

// One TLS session run over memory: ciphertext read from the socket is placed in its
// inbound buffer, ciphertext to send collects in its outbound buffer. It does no I/O.
// Every call is thread-safe, so that the queries may come from any thread while the
// owner drives the session on its own strand.
class TlsEngine {
public:
    enum class Role { client, server };
    enum class Status {
        ok,         // the step completed
        wantsInput, // more ciphertext is needed first
        closed,     // the peer sent close_notify
        failed,     // see error()
    };

    TlsEngine(const std::shared_ptr<const TlsContext>& context, Role role);
    ~TlsEngine();
    TlsEngine(const TlsEngine&) = delete;
    TlsEngine& operator=(const TlsEngine&) = delete;

    Status handshake();
    // Decrypts into `out` and adds what came to `filled`, whatever the status: ok when
    // `out` is full, wantsInput when the ciphertext ran out first.
    Status read(std::span<std::uint8_t> out, std::size_t& filled);
    Status write(ByteView plaintext);
    // Queues close_notify.
    void shutdown();
    NetError error() const;

    // Room for `size` bytes of ciphertext at the end of the inbound buffer. The span stays
    // valid until the next call of inboundSpace, whatever else is called meanwhile.
    std::span<std::uint8_t> inboundSpace(std::size_t size);
    void commitInbound(std::size_t size);
    // The transport reached the end of its stream: no more ciphertext will come.
    void commitEnd();

    bool hasOutput() const;
    // Moves the pending ciphertext out, reusing the storage of `into`.
    void takeOutput(Bytes& into);

    std::optional<Bytes> exportKeyingMaterial(std::string_view label, std::size_t length) const;
    std::optional<std::uint16_t> cipherSuite() const;
    std::optional<std::string> pskIdentity() const;
    // The identity a client offered, whether or not it admitted the session: OpenSSL keeps it
    // before it asks for the key.
    std::optional<std::string> offeredIdentity() const;
    // Server: the client's whole hello has arrived and been taken.
    bool hasHeardHello() const;

private:
    struct Io;
    Status statusOf(int result);

    mutable std::mutex lock_;
    SSL* ssl_ = nullptr;
    std::shared_ptr<const TlsContext> context_; // keeps the key callbacks' data alive
    // Not a vector: growing it must not zero what the socket overwrites anyway.
    std::unique_ptr<std::uint8_t[]> inbound_;
    std::size_t inboundCapacity_ = 0;
    std::size_t inboundBegin_ = 0;
    std::size_t inboundEnd_ = 0;
    bool inboundFinished_ = false;
    Bytes outbound_;
    NetError error_;
};

} // namespace velm
