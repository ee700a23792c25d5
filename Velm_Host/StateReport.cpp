#include "Velm_Host/StateReport.h"

#include "Velm_Host/model/AdvertisementNews.h"
#include "platform/core/Utf8.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace velm {
namespace {

using Kind = HostListener::State::Kind;

// Control characters become spaces: a line break, an escape sequence, and their 8-bit forms (a
// terminal reads U+009B as an escape sequence's start, and U+0085 as a line break), as do the line
// and paragraph separators.
std::string oneLine(std::string_view given) {
    std::string out;
    for (const char32_t point : Utf8::codePoints(Utf8::repaired(given))) {
        const bool control =
            point < 0x20 || (point >= 0x7f && point <= 0x9f) || point == 0x2028 || point == 0x2029;
        Utf8::append(out, control ? U' ' : point);
    }
    return out;
}

void reportListener(const HostListener::State& before, const HostListener::State& after,
                    std::vector<std::string>& lines) {
    if (before == after) {
        return;
    }
    switch (after.kind()) {
    case Kind::advertising:
        lines.push_back("listening on port " + std::to_string(after.port()));
        break;
    case Kind::failed:
        lines.push_back("not listening: " + after.message());
        break;
    case Kind::stopped:
        lines.push_back("not listening");
        break;
    case Kind::starting:
        break;
    }
}

void reportPairing(const std::optional<PairingWindow>& before, const std::optional<PairingWindow>& after,
                   Date now, std::vector<std::string>& lines) {
    if (after && (!before || before->code != after->code)) {
        std::string line = "pairing code " + StateReport::groupedCode(after->code);
        if (after->expires) {
            // A window never lasts longer than this; the bound keeps the conversion defined.
            constexpr double longest = 1e9;
            double left = std::ceil(after->expires->secondsSince(now));
            left = left > 0 ? std::min(left, longest) : 0;
            line += ", " + std::to_string(static_cast<long>(left)) + " s left";
        }
        lines.push_back(line);
    } else if (before && !after) {
        lines.push_back("pairing window closed");
    }
}

void reportSession(const std::optional<HostSession::Snapshot>& before,
                   const std::optional<HostSession::Snapshot>& after, std::vector<std::string>& lines) {
    const bool same = before && after && before->deviceID == after->deviceID;
    if (before && !same) {
        lines.push_back("session ended: " + oneLine(before->deviceName));
    }
    if (after && !same) {
        lines.push_back("session started: " + oneLine(after->deviceName) +
                        (after->from ? " from " + oneLine(*after->from) : ""));
    }
}

} // namespace

std::vector<std::string> StateReport::update(const HostModel::State& state, Date now) {
    std::vector<std::string> lines;
    if (state.listenerState.kind() != Kind::starting) {
        reportListener(listener_, state.listenerState, lines);
        listener_ = state.listenerState;
    }
    if (state.advertisement && state.advertisement != advertisement_) {
        if (auto news = advertisementNews(advertisement_, *state.advertisement, state.listenerState.port())) {
            lines.push_back(oneLine(std::move(*news)));
        }
        advertisement_ = state.advertisement;
    }
    reportPairing(pairingWindow_, state.pairingWindow, now, lines);
    pairingWindow_ = state.pairingWindow;
    reportSession(connected_, state.connected, lines);
    connected_ = state.connected;
    return lines;
}

std::string StateReport::line(const HostNotice& notice) {
    if (const auto* paired = notice.get<HostNotice::DevicePaired>()) {
        return "paired: " + oneLine(paired->deviceName);
    }
    if (const auto* wrong = notice.get<HostNotice::WrongPairingCode>()) {
        const int left = wrong->triesLeft;
        return "wrong pairing code, " +
               (left <= 0 ? std::string("no tries left")
                          : std::to_string(left) + (left == 1 ? " try left" : " tries left"));
    }
    if (const auto* refused = notice.get<HostNotice::SessionRefused>()) {
        return "session refused: " + oneLine(refused->deviceName) + " (" + refused->reason + ")";
    }
    const auto& file = *notice.get<HostNotice::FileReceived>();
    return "file received: " + oneLine(file.name) + " (" + size(file.size) + ") in " +
           oneLine(file.folder.string());
}

std::string StateReport::size(std::uint64_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    constexpr std::array units{"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000;
    std::size_t unit = 0;
    // 999.95 kB would print as "1000.0 kB".
    while (value >= 999.95 && unit + 1 < units.size()) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string StateReport::groupedCode(const std::string& code) {
    if (code.size() != 6) {
        return code;
    }
    return code.substr(0, 3) + " " + code.substr(3);
}

} // namespace velm
