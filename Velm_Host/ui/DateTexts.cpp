#include "Velm_Host/ui/DateTexts.h"

#include <array>
#include <cmath>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>
#include <utility>

namespace velm {
namespace {

struct Unit {
    URelativeDateTimeUnit unit;
    double seconds;
};

// Largest first; months and years by their average length.
constexpr std::array<Unit, 7> dateUnits{{
    {UDAT_REL_UNIT_YEAR, 365.2425 * 86400},
    {UDAT_REL_UNIT_MONTH, 365.2425 * 86400 / 12},
    {UDAT_REL_UNIT_WEEK, 7 * 86400},
    {UDAT_REL_UNIT_DAY, 86400},
    {UDAT_REL_UNIT_HOUR, 3600},
    {UDAT_REL_UNIT_MINUTE, 60},
    {UDAT_REL_UNIT_SECOND, 1},
}};

std::string utf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

icu::Locale localeNamed(const std::string& name) {
    return name.empty() ? icu::Locale::getDefault() : icu::Locale::createCanonical(name.c_str());
}

} // namespace

struct DateTexts::Formatters {
    std::unique_ptr<icu::RelativeDateTimeFormatter> relative;
    std::unique_ptr<icu::DateFormat> monthAndDay;
};

DateTexts::DateTexts(const std::string& locale, const std::string& timeZone)
    : formatters_(std::make_unique<Formatters>()) {
    const icu::Locale chosen = localeNamed(locale);
    UErrorCode status = U_ZERO_ERROR;
    auto relative = std::make_unique<icu::RelativeDateTimeFormatter>(chosen, nullptr, UDAT_STYLE_LONG,
                                                                     UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_SUCCESS(status)) {
        formatters_->relative = std::move(relative);
    }
    status = U_ZERO_ERROR;
    formatters_->monthAndDay.reset(
        icu::DateFormat::createInstanceForSkeleton(icu::UnicodeString::fromUTF8("MMMd"), chosen, status));
    if (U_FAILURE(status)) {
        formatters_->monthAndDay.reset();
    } else if (formatters_->monthAndDay && !timeZone.empty()) {
        formatters_->monthAndDay->adoptTimeZone(
            icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZone)));
    }
}

DateTexts::~DateTexts() = default;
DateTexts::DateTexts(DateTexts&&) noexcept = default;
DateTexts& DateTexts::operator=(DateTexts&&) noexcept = default;

std::string DateTexts::relative(Date date, Date now) const {
    double offset = date.secondsSince(now);
    if (!std::isfinite(offset)) {
        offset = 0;
    }
    Unit chosen = dateUnits.back();
    for (const Unit& unit : dateUnits) {
        if (std::abs(offset) >= unit.seconds) {
            chosen = unit;
            break;
        }
    }
    // Whole units towards zero, and never a negative zero, which would read "0 seconds ago".
    const double count = std::trunc(offset / chosen.seconds) + 0.0;
    if (!formatters_->relative) {
        return {};
    }
    icu::UnicodeString text;
    UErrorCode status = U_ZERO_ERROR;
    formatters_->relative->format(count, chosen.unit, text, status);
    return U_SUCCESS(status) ? utf8(text) : std::string();
}

std::string DateTexts::monthAndDay(Date date) const {
    if (!formatters_->monthAndDay || !std::isfinite(date.secondsSinceReferenceDate())) {
        return {};
    }
    const UDate milliseconds = (date.secondsSinceReferenceDate() + Date::referenceDateInUnixTime) * 1000;
    icu::UnicodeString text;
    formatters_->monthAndDay->format(milliseconds, text);
    return utf8(text);
}

} // namespace velm
