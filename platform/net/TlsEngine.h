#pragma once

#include "platform/core/Bytes.h"
#include "platform/net/NetError.h"
#include "platform/net/TlsKeyLender.h"

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
//
// A server answers an identity it holds no key for (an unknown one, or one whose lender
// lends nothing) with a random key of its own, so the handshake fails at the same step and
// with the same alert as a wrong key does: a peer cannot tell which identities are known.
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
    // The handshake is over, however it ended: a key still lent to it goes back unused.
    void endHandshake();
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
    std::size_t outputSize() const;
    // Moves the pending ciphertext out, reusing the storage of `into`.
    void takeOutput(Bytes& into);

    std::optional<Bytes> exportKeyingMaterial(std::string_view label, std::size_t length) const;
    std::optional<std::uint16_t> cipherSuite() const;
    std::optional<std::string> pskIdentity() const;
    // The tag of the lent key that admitted this session; none when no lent key did.
    std::optional<std::uint64_t> lentKeyTag() const;
    // The identity a client offered, whether or not it admitted the session: OpenSSL keeps it
    // before it asks for the key.
    std::optional<std::string> offeredIdentity() const;
    // Server: the client's whole hello has arrived and been taken.
    bool hasHeardHello() const;

private:
    struct Io;
    struct Keys;
    // How the server answered the identity its client offered.
    enum class KeyChoice { none, listed, lent, notLent, unknown };

    Status statusOf(int result);
    // The rest run with `lock_` held, inside OpenSSL's calls or after them.
    unsigned int serverKey(std::string_view identity, std::span<std::uint8_t> out);
    // Whether the client's Finished message was checked against the key, which only a peer who
    // sent one can learn anything from.
    bool keyWasTested() const;
    void settleLoan(TlsKeyLender::Outcome outcome);
    void logRefusal() const;

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
    KeyChoice keyChoice_ = KeyChoice::none;
    std::optional<TlsKeyLender::Loan> loan_;
    std::optional<std::uint64_t> lentKeyTag_;
};

} // namespace velm
