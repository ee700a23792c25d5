#include "platform/x11/DoubleClickInterval.h"

#include "platform/desktop/GnomeMouseSettings.h"
#include "platform/log/Log.h"
#include "platform/x11/X11InputSink.h"
#include "platform/x11/X11XSettings.h"

#include <cstdint>
#include <optional>

namespace velm {
namespace {

const Log doubleClickIntervalLog("input");

// A source's time in seconds; nothing when it has none or one no user would have set.
std::optional<double> seconds(std::optional<std::int32_t> milliseconds, const char* source) {
    if (!milliseconds) {
        return std::nullopt;
    }
    if (*milliseconds < DoubleClickInterval::shortest.count() ||
        *milliseconds > DoubleClickInterval::longest.count()) {
        doubleClickIntervalLog.error("double-click time of %d ms from %s ignored", int(*milliseconds),
                                     source);
        return std::nullopt;
    }
    return *milliseconds / 1000.0;
}

std::optional<std::int32_t> publishedByManager() {
    const auto settings = X11XSettings::read();
    return settings ? settings->integer("Net/DoubleClickTime") : std::nullopt;
}

} // namespace

double DoubleClickInterval::ofDesktop() {
    if (const auto gnome = seconds(GnomeMouseSettings::doubleClickMilliseconds(), "gnome")) {
        return *gnome;
    }
    return seconds(publishedByManager(), "xsettings").value_or(X11InputSink::defaultDoubleClickInterval);
}

} // namespace velm
