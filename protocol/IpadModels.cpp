#include "protocol/IpadModels.h"

#include <algorithm>
#include <array>

namespace velm {
namespace {

constexpr std::string_view prefix = "iPad";

struct Row {
    std::string_view name;
    std::array<std::string_view, 4> suffixes; // each identifier is "iPad" + suffix; unused slots empty
};

// clang-format off
constexpr std::array rows{
    Row{"iPad Pro 11-inch", {"8,1", "8,2", "8,3", "8,4"}},
    Row{"iPad Pro 12.9-inch (3rd generation)", {"8,5", "8,6", "8,7", "8,8"}},
    Row{"iPad Pro 11-inch (2nd generation)", {"8,9", "8,10"}},
    Row{"iPad Pro 12.9-inch (4th generation)", {"8,11", "8,12"}},
    Row{"iPad Pro 11-inch (3rd generation)", {"13,4", "13,5", "13,6", "13,7"}},
    Row{"iPad Pro 12.9-inch (5th generation)", {"13,8", "13,9", "13,10", "13,11"}},
    Row{"iPad Pro 11-inch (4th generation)", {"14,3", "14,4"}},
    Row{"iPad Pro 12.9-inch (6th generation)", {"14,5", "14,6"}},
    Row{"iPad Pro 11-inch (M4)", {"16,3", "16,4"}},
    Row{"iPad Pro 13-inch (M4)", {"16,5", "16,6"}},
    Row{"iPad Pro 11-inch (M5)", {"17,1", "17,2"}},
    Row{"iPad Pro 13-inch (M5)", {"17,3", "17,4"}},
    Row{"iPad Air (4th generation)", {"13,1", "13,2"}},
    Row{"iPad Air (5th generation)", {"13,16", "13,17"}},
    Row{"iPad Air 11-inch (M2)", {"14,8", "14,9"}},
    Row{"iPad Air 13-inch (M2)", {"14,10", "14,11"}},
    Row{"iPad Air 11-inch (M3)", {"15,3", "15,4"}},
    Row{"iPad Air 13-inch (M3)", {"15,5", "15,6"}},
    Row{"iPad mini (6th generation)", {"14,1", "14,2"}},
    Row{"iPad mini (A17 Pro)", {"16,1", "16,2"}},
    Row{"iPad (10th generation)", {"13,18", "13,19"}},
    Row{"iPad (A16)", {"15,7", "15,8"}},
};

constexpr std::array<std::string_view, 10> homeButtonSet{
    "iPad11,1", "iPad11,2", "iPad11,3", "iPad11,4", "iPad7,11",
    "iPad7,12", "iPad11,6", "iPad11,7", "iPad12,1", "iPad12,2",
};
// clang-format on

} // namespace

std::optional<std::string_view> IpadModels::marketingName(std::string_view identifier) {
    if (!identifier.starts_with(prefix)) {
        return std::nullopt;
    }
    const std::string_view suffix = identifier.substr(prefix.size());
    if (suffix.empty()) {
        return std::nullopt;
    }
    for (const Row& row : rows) {
        if (std::find(row.suffixes.begin(), row.suffixes.end(), suffix) != row.suffixes.end()) {
            return row.name;
        }
    }
    return std::nullopt;
}

bool IpadModels::isProfessional(std::string_view identifier) {
    const auto name = marketingName(identifier);
    return name && name->starts_with("iPad Pro");
}

bool IpadModels::isInHomeButtonSet(std::string_view identifier) {
    return std::find(homeButtonSet.begin(), homeButtonSet.end(), identifier) != homeButtonSet.end();
}

} // namespace velm
