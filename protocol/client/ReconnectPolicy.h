#pragma once

#include <chrono>
#include <optional>
#include <variant>

namespace velm {

// Decides, after the client lost its connection to a host, whether and when to try again: up to six quick
// retries with growing delays, then a check every two seconds for up to ten minutes, then it gives up.
// It holds no timer and reads no clock; the caller passes the time in and arms its own timer.
class ReconnectPolicy {
public:
    using Clock = std::chrono::steady_clock;
    using Seconds = std::chrono::duration<double>;

    static constexpr int maxRetries = 6;
    static constexpr Seconds waitLimit{600.0};
    static constexpr Seconds waitInterval{2.0};

    // Try again after the delay; attempt is the number of quick retries this one makes.
    struct Retry {
        Seconds after;
        int attempt;
        friend bool operator==(const Retry&, const Retry&) = default;
    };
    // Quick retries are spent: look for the host again after the delay.
    struct Wait {
        Seconds after;
        friend bool operator==(const Wait&, const Wait&) = default;
    };
    struct GiveUp {
        friend bool operator==(const GiveUp&, const GiveUp&) = default;
    };
    using Step = std::variant<Retry, Wait, GiveUp>;

    // Quick retries made so far.
    int attempt() const { return attempt_; }
    // When the policy began waiting for the host; absent while it retries quickly.
    std::optional<Clock::time_point> waitingSince() const { return waitingSince_; }
    bool isWaiting() const { return waitingSince_.has_value(); }

    // Back to a fresh series of quick retries.
    void reset();
    // Starts waiting at the given time; a policy already waiting keeps its first time.
    void beginWaiting(Clock::time_point at);

    // The next step, which the policy also records. mayBeginRetries matters only before the first retry:
    // without it a fresh policy gives up, while retries once begun go on regardless.
    Step nextStep(bool mayBeginRetries, Clock::time_point now);

private:
    static constexpr Seconds firstDelay{0.4};
    static constexpr double delayGrowth = 1.6;
    static constexpr Seconds longestDelay{3.0};

    int attempt_ = 0;
    std::optional<Clock::time_point> waitingSince_;
};

} // namespace velm
