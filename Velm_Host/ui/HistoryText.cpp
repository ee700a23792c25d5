#include "Velm_Host/ui/HistoryText.h"

#include "Velm_Host/ui/InlineName.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace velm {
namespace {

using Kind = ConnectionRecord::Kind;
using Ending = ConnectionRecord::Ending;

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) {
        if (part.empty()) {
            continue;
        }
        if (!out.empty()) {
            out += " · ";
        }
        out += part;
    }
    return out;
}

} // namespace

RowIcon HistoryText::icon(const ConnectionRecord& record) {
    switch (record.kind) {
    case Kind::session:
        return record.isOpen() ? RowIcon::running : RowIcon::session;
    case Kind::file:
        return RowIcon::file;
    case Kind::refused:
        break;
    }
    return RowIcon::refused;
}

std::string HistoryText::title(const ConnectionRecord& record) {
    switch (record.kind) {
    case Kind::session:
        break;
    case Kind::file:
        return inlineName(record.deviceName) + ": a file";
    case Kind::refused:
        return inlineName(record.deviceName) + ": turned away";
    }
    return inlineName(record.deviceName);
}

std::string HistoryText::caption(const ConnectionRecord& record, const HistoryDates& dates) {
    std::vector<std::string> parts{dates.startText(record.started), routeText(record)};
    if (record.kind == Kind::refused) {
        if (record.refusal) {
            parts.emplace_back(refusalText(*record.refusal));
        }
        return joined(parts);
    }
    if (!record.ended) {
        parts.emplace_back("connected now");
    } else if (record.kind == Kind::session) {
        parts.push_back(minutesText(record.ended->secondsSince(record.started)));
    }
    // A file connection ends "disconnected" whenever its transfer finished: nothing worth saying.
    if (record.ending && !(record.kind == Kind::file && *record.ending == Ending::disconnected)) {
        parts.emplace_back(endingText(*record.ending));
    }
    if (!record.forwardSecret) {
        parts.emplace_back("not forward secret");
    }
    return joined(parts);
}

std::string HistoryText::routeText(const ConnectionRecord& record) {
    std::string text;
    switch (record.route) {
    case ConnectionRecord::Route::home:
        text = "at home";
        break;
    case ConnectionRecord::Route::door:
        text = "from away";
        break;
    case ConnectionRecord::Route::elsewhere:
        text = "by VPN or address";
        break;
    }
    if (record.from) {
        text += " (" + *record.from + ")";
    }
    return text;
}

std::string HistoryText::minutesText(double seconds) {
    // A clock set back gives a negative length, damaged data anything: both read as the shortest.
    constexpr double longest = 1e12;
    const double minutes = std::isfinite(seconds) ? std::clamp(std::floor(seconds / 60), 0.0, longest) : 0.0;
    const auto whole = static_cast<std::int64_t>(minutes);
    if (whole < 2) {
        return "1 min";
    }
    if (whole < 60) {
        return std::to_string(whole) + " min";
    }
    return std::to_string(whole / 60) + " h " + std::to_string(whole % 60) + " min";
}

std::string_view HistoryText::endingText(Ending ending) {
    switch (ending) {
    case Ending::disconnected:
        return "disconnected";
    case Ending::endedHere:
        return "ended from this computer";
    case Ending::idleTimeout:
        return "timed out, idle";
    case Ending::connectionLost:
        return "connection lost";
    case Ending::replaced:
        return "replaced by a newer session";
    case Ending::hostQuit:
        return "Velm Host quit";
    case Ending::interrupted:
        break;
    }
    return "cut short";
}

std::string_view HistoryText::refusalText(ConnectionRecord::Refusal refusal) {
    switch (refusal) {
    case ConnectionRecord::Refusal::keyDidNotMatch:
        break;
    case ConnectionRecord::Refusal::deviceBoundKeyMissing:
        return "no away key signature";
    }
    return "its key didn't match";
}

} // namespace velm
