#pragma once

#include "Velm_Host/core/PairingWindow.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/net/TlsKeyLender.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

// The pairing window's life: opened with a code and a budget of wrong tries, and closed by hand,
// by its expiry, by a pairing (unless it is reusable) or by its last wrong try.
//
// Every window has a generation of its own, so that the expiry scheduled for an earlier window,
// and the tries lent under it, do nothing to a later one.
//
// Not thread-safe: its owner calls it only with its own lock held (the device registry's `lock`), so
// that a try is taken in one step with the check that one is left, and with the key handed out.
class PairingWindowKeeper {
public:
    // The code's key lent to one handshake: its code, and the window whose try it holds.
    struct Loan {
        std::string code;
        std::uint64_t generation = 0;
    };

    // A wrong code checked under the open window.
    struct WrongTry {
        int triesLeft = 0;
        // It was the last try of a code carried over from an earlier version, which is not to be
        // offered again.
        bool usedUpCarriedOverCode = false;
    };

    // `queue` runs the expiry of each window.
    explicit PairingWindowKeeper(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}
    ~PairingWindowKeeper();
    PairingWindowKeeper(const PairingWindowKeeper&) = delete;
    PairingWindowKeeper& operator=(const PairingWindowKeeper&) = delete;

    // The window as opened, with the tries it has left; it may have expired a moment ago.
    const std::optional<PairingWindow>& window() const { return window_; }
    bool isOpen(Date now) const;
    bool isCarriedOver() const { return carriedOver_; }
    std::uint64_t generation() const { return windowGeneration_; }

    // Replaces any open window. With a duration, `onExpiry` is called with the new window's
    // generation on the queue when it is up (see expire); without one the window stays until it
    // is closed or used up.
    void open(PairingWindow window, std::optional<std::chrono::seconds> duration, bool carriedOver,
              std::function<void(std::uint64_t generation)> onExpiry);
    void close(const char* why);
    // Closes the window of that generation when it is still the open one; true when it did.
    bool expire(std::uint64_t generation);

    // Takes one of the open window's tries for a handshake. Nothing while no window is open or
    // while every try left is lent.
    std::optional<Loan> lend(Date now);
    // Gives the loan's try back, or spends it when the code was wrong: the last one spent closes
    // the window. A loan of an earlier window counts for nothing.
    std::optional<WrongTry> settle(std::uint64_t generation, TlsKeyLender::Outcome outcome);

private:
    const std::shared_ptr<Queue> queue_;
    std::optional<PairingWindow> window_;
    bool carriedOver_ = false;
    // Tries of the open window lent to handshakes that have not settled yet.
    int triesLent_ = 0;
    std::uint64_t windowGeneration_ = 0;
    WorkItem expiry_;
};

} // namespace velm
