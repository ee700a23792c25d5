#pragma once

#include "platform/core/Date.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

// Writes when a history record started, in the way of a locale and a time zone: today's and
// yesterday's dates by name ("Today, 3:04 PM"), older ones as an abbreviated date with a short
// time ("Jan 5, 2025, 3:04 PM"). For one thread at a time (the views' main thread).
class HistoryDates {
public:
    struct Options {
        // An ICU locale ("en_US"); empty: the user's.
        std::string locale{};
        // An IANA zone ("UTC", "Europe/Berlin"); empty: the computer's.
        std::string timeZone{};
        // What "today" is measured from.
        std::function<Date()> now = Date::now;
    };

    HistoryDates();
    explicit HistoryDates(Options options);
    ~HistoryDates();
    HistoryDates(const HistoryDates&) = delete;
    HistoryDates& operator=(const HistoryDates&) = delete;

    // Empty for a date no calendar can show (not finite, or beyond a quarter of a million years).
    std::string startText(Date date) const;
    // How long until today ends in the zone, when what reads "Today" reads "Yesterday" instead;
    // nothing when the calendar cannot tell.
    std::optional<double> secondsUntilTomorrow() const;

private:
    struct Formatters;

    std::function<Date()> now_;
    std::unique_ptr<Formatters> formatters_;
};

} // namespace velm
