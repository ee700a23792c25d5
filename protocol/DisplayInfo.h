#pragma once

#include "protocol/json/JsonRecord.h"

#include <cstdint>
#include <string>

namespace velm {

// One of the host's displays, as listed in the host's hello and when the displays change.
struct DisplayInfo {
    std::uint32_t id = 0;
    std::string name;
    std::int64_t pixelWidth = 0; // of the current mode
    std::int64_t pixelHeight = 0;
    std::int64_t pointWidth = 0;
    std::int64_t pointHeight = 0;
    bool isMain = false;

    static void fields(auto& visit, auto&... self) {
        visit("id", self.id...);
        visit("name", self.name...);
        visit("pixelWidth", self.pixelWidth...);
        visit("pixelHeight", self.pixelHeight...);
        visit("pointWidth", self.pointWidth...);
        visit("pointHeight", self.pointHeight...);
        visit("isMain", self.isMain...);
    }

    friend bool operator==(const DisplayInfo& a, const DisplayInfo& b) { return fieldsEqual(a, b); }
};

} // namespace velm
