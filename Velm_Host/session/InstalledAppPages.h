#pragma once

#include "protocol/AppInfo.h"
#include "protocol/AppListPage.h"

#include <cstddef>
#include <vector>

namespace velm {

// The installed applications as the client receives them: pages of at most pageSize in list order,
// numbered from 0, the last one marked; an empty list is one empty last page.
class InstalledAppPages {
public:
    InstalledAppPages() = delete;

    static constexpr std::size_t pageSize = 24;

    static std::vector<AppListPage> of(std::vector<AppInfo> apps);
};

} // namespace velm
