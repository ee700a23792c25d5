#pragma once

#include "platform/crypto/SecretBytes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace velm {

// Hands the key of an identity to each server handshake that offers it, at the moment the
// handshake needs it, and hears what came of it. Keys that change while the server runs are
// handed out this way, so a handshake goes by the keys as their owner holds them then. A key that
// may be tried only a few times (one derived from a short code) is guarded this way too: its owner
// takes a try as it lends the key, can refuse to lend it once the tries are taken, and counts a
// try as spent only when a handshake really tested the key.
class TlsKeyLender {
public:
    enum class Outcome {
        admitted, // the handshake completed with the key
        rejected, // the client's Finished message was checked against the key and failed
        unused,   // the handshake ended before the client's Finished message was checked
    };

    // The key lent to one handshake. It is settled exactly once: by the handshake, or as unused
    // when it goes unsettled. Its tag is the lender's own mark of what the key was lent under; a
    // connection the loan admitted keeps it, so the lender can later tell whether what the key
    // stood for then still holds.
    class Loan {
    public:
        Loan(SecretBytes secret, std::function<void(Outcome)> settle, std::uint64_t tag = 0);
        ~Loan();
        Loan(Loan&& other) noexcept;
        Loan& operator=(Loan&& other) noexcept;
        Loan(const Loan&) = delete;
        Loan& operator=(const Loan&) = delete;

        const SecretBytes& secret() const { return secret_; }
        std::uint64_t tag() const { return tag_; }
        // Only the first call counts.
        void settle(Outcome outcome);

    private:
        SecretBytes secret_;
        std::function<void(Outcome)> settle_;
        std::uint64_t tag_ = 0;
    };

    virtual ~TlsKeyLender() = default;

    // Whether this lender decides the key of `identity`. A server that has a lender asks it, and
    // never its own key list, for such an identity.
    virtual bool decides(std::string_view identity) const = 0;
    // Called on a connection's strand while its handshake runs, for an identity the lender decides.
    // Nothing when no key may be lent now: that handshake then fails as it would with a wrong key.
    virtual std::optional<Loan> lend(std::string_view identity) = 0;
};

} // namespace velm
