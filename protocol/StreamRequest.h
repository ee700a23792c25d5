#pragma once

#include "protocol/json/JsonRecord.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velm {

// What the client asks for when it starts or changes a stream.
struct StreamRequest {
    std::optional<std::uint32_t> displayID; // a DisplayInfo id; absent: the host chooses
    std::int64_t maxPixelWidth = 0;
    std::int64_t maxPixelHeight = 0;
    std::int64_t fps = 0;
    std::int64_t bitrate = 0; // bits per second
    double keyframeIntervalSeconds = 0;
    std::optional<bool> clientDrawsCursor;  // true: frames leave the pointer out
    std::optional<std::string> appBundleID; // app mode: the one application to show
    std::optional<bool> launchApp;          // app mode: open it first and wait for its window
    std::optional<bool> matchClientDisplay; // a display of the host's own, sized to the client
    std::optional<bool> favorsFrameRate;    // on a tight budget keep the rate, shrink the picture
    std::optional<bool> usesStandardEncoder;
    std::optional<bool> savesPower;
    std::optional<bool> fullChroma; // 4:4:4

    static void fields(auto& visit, auto&... self) {
        visit("displayID", self.displayID...);
        visit("maxPixelWidth", self.maxPixelWidth...);
        visit("maxPixelHeight", self.maxPixelHeight...);
        visit("fps", self.fps...);
        visit("bitrate", self.bitrate...);
        visit("keyframeIntervalSeconds", self.keyframeIntervalSeconds...);
        visit("clientDrawsCursor", self.clientDrawsCursor...);
        visit("appBundleID", self.appBundleID...);
        visit("launchApp", self.launchApp...);
        visit("matchClientDisplay", self.matchClientDisplay...);
        visit("favorsFrameRate", self.favorsFrameRate...);
        visit("usesStandardEncoder", self.usesStandardEncoder...);
        visit("savesPower", self.savesPower...);
        visit("fullChroma", self.fullChroma...);
    }

    friend bool operator==(const StreamRequest& a, const StreamRequest& b) { return fieldsEqual(a, b); }
};

} // namespace velm
