#pragma once

#include "protocol/VideoCodec.h"
#include "protocol/json/JsonRecord.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velm {

// What the host actually streams; sent once the stream has started, and after every restart.
struct StreamDescription {
    std::uint32_t displayID = 0;
    VideoCodec codec = VideoCodec::hevc;
    std::int64_t pixelWidth = 0;
    std::int64_t pixelHeight = 0;
    std::int64_t fps = 0;
    std::int64_t bitrate = 0; // at the start; later changes travel on their own
    bool isTestPattern = false;
    std::optional<std::string> appName;     // app mode only
    std::optional<std::string> appBundleID; // written only together with appName
    std::optional<double> pointWidth;       // of the streamed area
    std::optional<double> pointHeight;
    std::optional<bool> matchesClientDisplay;
    std::optional<bool> fullChroma;

    static void fields(auto& visit, auto&... self) {
        visit("displayID", self.displayID...);
        visit("codec", self.codec...);
        visit("pixelWidth", self.pixelWidth...);
        visit("pixelHeight", self.pixelHeight...);
        visit("fps", self.fps...);
        visit("bitrate", self.bitrate...);
        visit("isTestPattern", self.isTestPattern...);
        visit("appName", self.appName...);
        visit("appBundleID", self.appBundleID...);
        visit("pointWidth", self.pointWidth...);
        visit("pointHeight", self.pointHeight...);
        visit("matchesClientDisplay", self.matchesClientDisplay...);
        visit("fullChroma", self.fullChroma...);
    }

    friend bool operator==(const StreamDescription& a, const StreamDescription& b) {
        return fieldsEqual(a, b);
    }
};

} // namespace velm
