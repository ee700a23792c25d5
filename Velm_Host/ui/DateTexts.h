#pragma once

#include "platform/core/Date.h"

#include <memory>
#include <string>

namespace velm {

// Dates as people read them, in a locale's words: "yesterday", "3 hours ago", "Dec 7".
class DateTexts {
public:
    // `locale` is a locale name ("en_US", "de"), `timeZone` a zone name ("Europe/Berlin"); empty
    // means the user's own, from the environment.
    explicit DateTexts(const std::string& locale = {}, const std::string& timeZone = {});
    ~DateTexts();
    DateTexts(DateTexts&&) noexcept;
    DateTexts& operator=(DateTexts&&) noexcept;

    // How long before or after `now` the date is, in its largest whole unit (seconds up to years),
    // named where the language has a name for it ("yesterday", "last week", "now").
    std::string relative(Date date, Date now) const;
    // The month's short name and the day of the month, in the locale's order.
    std::string monthAndDay(Date date) const;

private:
    struct Formatters;
    std::unique_ptr<Formatters> formatters_;
};

} // namespace velm
