#pragma once

#include <optional>

namespace velm {

// Decides when an idle session is warned and when it ends. It has no clock of its own: the owner feeds it
// times in seconds on one monotonic clock of its choosing, the moments of activity, and ticks it.
//
// Each idle stretch is warned once, when at most warningLead seconds are left, and ends when none are
// left; every tick after that ends again. Activity starts a fresh stretch.
class IdleClock {
public:
    static constexpr double warningLead = 60;

    class Action {
    public:
        enum class Kind { warn, nothing, end };

        static Action warn(int secondsLeft) { return Action(Kind::warn, secondsLeft); }
        static Action nothing() { return Action(Kind::nothing, 0); }
        static Action end() { return Action(Kind::end, 0); }

        Kind kind() const { return kind_; }
        // The whole seconds left before the end, rounded down; 0 unless kind() is warn.
        int secondsLeft() const { return secondsLeft_; }

        bool operator==(const Action&) const = default;

    private:
        Action(Kind kind, int secondsLeft) : kind_(kind), secondsLeft_(secondsLeft) {}

        Kind kind_;
        int secondsLeft_;
    };

    // An absent time-out means the session never ends for idleness, and so does one that is no positive,
    // finite number of seconds: a damaged setting must not end every session at its first tick.
    IdleClock(std::optional<double> timeout, double now) : timeout_(usable(timeout)), lastActivity_(now) {}

    std::optional<double> timeout() const { return timeout_; }
    // Leaves the current stretch and its warning as they are.
    void setTimeout(std::optional<double> timeout) { timeout_ = usable(timeout); }

    double lastActivity() const { return lastActivity_; }
    bool warned() const { return warned_; }

    void activity(double at);
    Action tick(double now);

private:
    static std::optional<double> usable(std::optional<double> timeout);

    std::optional<double> timeout_;
    double lastActivity_;
    bool warned_ = false;
};

} // namespace velm
