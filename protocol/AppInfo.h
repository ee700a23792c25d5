#pragma once

#include "platform/core/Bytes.h"
#include "protocol/json/JsonRecord.h"

#include <optional>
#include <string>

namespace velm {

// One application, in the list of running applications and in pages of installed ones.
struct AppInfo {
    std::string bundleID;
    std::string name;
    std::optional<Bytes> iconPNG;

    static void fields(auto& visit, auto&... self) {
        visit("bundleID", self.bundleID...);
        visit("name", self.name...);
        visit("iconPNG", self.iconPNG...);
    }

    friend bool operator==(const AppInfo& a, const AppInfo& b) { return fieldsEqual(a, b); }
};

} // namespace velm
