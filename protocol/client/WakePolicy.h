#pragma once

#include <chrono>
#include <optional>

namespace velm {

// Whether the client has seen lively activity lately: a level of at least livelyLevel within the last
// livelySpan. It reads no clock; the caller passes the times in.
class WakePolicy {
public:
    using Clock = std::chrono::steady_clock;
    using Seconds = std::chrono::duration<double>;

    static constexpr double livelyLevel = 5.0;
    static constexpr Seconds livelySpan{30.0};

    // A level below livelyLevel (or not a number) changes nothing.
    void noteActivity(double level, Clock::time_point at);
    // A last lively moment later than now counts as lively.
    bool isLively(Clock::time_point now) const;

    std::optional<Clock::time_point> lastLively() const { return lastLively_; }

private:
    std::optional<Clock::time_point> lastLively_;
};

} // namespace velm
