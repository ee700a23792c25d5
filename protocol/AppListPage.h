#pragma once

#include "protocol/AppInfo.h"
#include "protocol/json/JsonRecord.h"

#include <cstdint>
#include <vector>

namespace velm {

// One page of the installed applications; the page with isLast ends the answer.
struct AppListPage {
    std::vector<AppInfo> apps;
    std::int64_t index = 0; // counted from 0
    bool isLast = false;

    static void fields(auto& visit, auto&... self) {
        visit("apps", self.apps...);
        visit("index", self.index...);
        visit("isLast", self.isLast...);
    }

    friend bool operator==(const AppListPage& a, const AppListPage& b) { return fieldsEqual(a, b); }
};

} // namespace velm
