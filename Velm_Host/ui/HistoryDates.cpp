#include "Velm_Host/ui/HistoryDates.h"

#include <cmath>
#include <optional>
#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/simpleformatter.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>
#include <utility>

namespace velm {
namespace {

// ICU's own bound on the dates it computes with: about 275,000 years either side of 1970.
constexpr double maximumMilliseconds = 8.64e15;

std::optional<UDate> icuDate(Date date) {
    const double milliseconds = (date.secondsSinceReferenceDate() + Date::referenceDateInUnixTime) * 1000.0;
    if (!std::isfinite(milliseconds) || std::fabs(milliseconds) > maximumMilliseconds) {
        return std::nullopt;
    }
    return milliseconds;
}

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// A date-time glue pattern ("{1}, {0}") may quote literal text the way date patterns do ("{1} 'à' {0}").
icu::UnicodeString unquoted(const icu::UnicodeString& pattern) {
    icu::UnicodeString out;
    for (int32_t i = 0; i < pattern.length(); ++i) {
        const char16_t unit = pattern.charAt(i);
        if (unit != u'\'') {
            out.append(unit);
        } else if (i + 1 < pattern.length() && pattern.charAt(i + 1) == u'\'') {
            out.append(unit);
            ++i;
        }
    }
    return out;
}

} // namespace

struct HistoryDates::Formatters {
    std::unique_ptr<icu::DateFormat> dateAndTime;
    std::unique_ptr<icu::DateFormat> time;
    std::unique_ptr<icu::Calendar> calendar;
    std::optional<icu::SimpleFormatter> dayAndTime; // {0} the time, {1} the day
    icu::UnicodeString today;
    icu::UnicodeString yesterday;

    Formatters(const icu::Locale& locale, const icu::TimeZone& zone) {
        dateAndTime.reset(icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium,
                                                                  icu::DateFormat::kShort, locale));
        time.reset(icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, locale));
        for (icu::DateFormat* format : {dateAndTime.get(), time.get()}) {
            if (format) {
                format->setTimeZone(zone);
            }
        }
        UErrorCode status = U_ZERO_ERROR;
        calendar.reset(icu::Calendar::createInstance(zone, locale, status));
        if (U_FAILURE(status)) {
            calendar.reset();
        }
        namedDays(locale);
    }

    void namedDays(const icu::Locale& locale) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::RelativeDateTimeFormatter relative(
            locale, nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_FOR_BEGINNING_OF_SENTENCE, status);
        relative.format(UDAT_DIRECTION_THIS, UDAT_ABSOLUTE_DAY, today, status);
        relative.format(UDAT_DIRECTION_LAST, UDAT_ABSOLUTE_DAY, yesterday, status);
        std::unique_ptr<icu::DateTimePatternGenerator> generator(
            icu::DateTimePatternGenerator::createInstance(locale, status));
        if (U_FAILURE(status) || !generator) {
            return;
        }
        // The glue of medium dates with times, the one the other dates are written with.
        const icu::UnicodeString glue = unquoted(generator->getDateTimeFormat());
        icu::SimpleFormatter formatter(glue, 2, 2, status);
        if (U_SUCCESS(status) && !today.isEmpty() && !yesterday.isEmpty()) {
            dayAndTime.emplace(std::move(formatter));
        }
    }

    // Whole calendar days from `then` to `now` in the zone; nothing when the calendar cannot tell.
    std::optional<int32_t> daysBetween(UDate then, UDate now) const {
        if (!calendar) {
            return std::nullopt;
        }
        UErrorCode status = U_ZERO_ERROR;
        calendar->setTime(then, status);
        const int32_t thenDay = calendar->get(UCAL_JULIAN_DAY, status);
        calendar->setTime(now, status);
        const int32_t nowDay = calendar->get(UCAL_JULIAN_DAY, status);
        if (U_FAILURE(status)) {
            return std::nullopt;
        }
        return nowDay - thenDay;
    }

    // The start of the day after the one `now` falls on, in the zone.
    std::optional<UDate> nextDayStart(UDate now) const {
        if (!calendar) {
            return std::nullopt;
        }
        UErrorCode status = U_ZERO_ERROR;
        calendar->setTime(now, status);
        calendar->add(UCAL_DATE, 1, status);
        for (const UCalendarDateFields field :
             {UCAL_HOUR_OF_DAY, UCAL_MINUTE, UCAL_SECOND, UCAL_MILLISECOND}) {
            calendar->set(field, 0);
        }
        const UDate next = calendar->getTime(status);
        if (U_FAILURE(status) || !(next > now)) {
            return std::nullopt;
        }
        return next;
    }

    std::string named(const icu::UnicodeString& day, UDate date) const {
        icu::UnicodeString timeText;
        time->format(date, timeText);
        icu::UnicodeString out;
        UErrorCode status = U_ZERO_ERROR;
        dayAndTime->format(timeText, day, out, status);
        return U_SUCCESS(status) ? utf8(out) : std::string();
    }
};

HistoryDates::HistoryDates() : HistoryDates(Options{}) {}

HistoryDates::HistoryDates(Options options) : now_(std::move(options.now)) {
    const icu::Locale locale = options.locale.empty() ? icu::Locale::getDefault()
                                                      : icu::Locale::createCanonical(options.locale.c_str());
    const std::unique_ptr<icu::TimeZone> zone(
        options.timeZone.empty()
            ? icu::TimeZone::createDefault()
            : icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(options.timeZone)));
    formatters_ = std::make_unique<Formatters>(locale, *zone);
}

HistoryDates::~HistoryDates() = default;

std::string HistoryDates::startText(Date date) const {
    const auto when = icuDate(date);
    if (!when || !formatters_->dateAndTime || !formatters_->time) {
        return {};
    }
    const auto now = icuDate(now_ ? now_() : Date::now());
    const auto days = now ? formatters_->daysBetween(*when, *now) : std::nullopt;
    if (days && formatters_->dayAndTime && (*days == 0 || *days == 1)) {
        return formatters_->named(*days == 0 ? formatters_->today : formatters_->yesterday, *when);
    }
    icu::UnicodeString text;
    formatters_->dateAndTime->format(*when, text);
    return utf8(text);
}

std::optional<double> HistoryDates::secondsUntilTomorrow() const {
    const auto now = icuDate(now_ ? now_() : Date::now());
    const auto next = now ? formatters_->nextDayStart(*now) : std::nullopt;
    if (!next) {
        return std::nullopt;
    }
    return (*next - *now) / 1000.0;
}

} // namespace velm
