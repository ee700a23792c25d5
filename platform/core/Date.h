#pragma once

#include <compare>

namespace velm {

// A point in time, held as seconds since 2001-01-01 00:00:00 UTC (the reference date the wire
// and the stored history count from). Equality and order compare the seconds numerically.
class Date {
public:
    // 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
    static constexpr double referenceDateInUnixTime = 978307200.0;

    constexpr Date() = default;
    constexpr explicit Date(double secondsSinceReferenceDate) : seconds_(secondsSinceReferenceDate) {}

    // The wall-clock time now.
    static Date now();

    constexpr double secondsSinceReferenceDate() const { return seconds_; }

    // Seconds from `earlier` to this date; negative when `earlier` lies after it.
    constexpr double secondsSince(Date earlier) const { return seconds_ - earlier.seconds_; }

    friend constexpr auto operator<=>(const Date&, const Date&) = default;

private:
    double seconds_ = 0;
};

} // namespace velm
