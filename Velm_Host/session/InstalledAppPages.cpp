#include "Velm_Host/session/InstalledAppPages.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace velm {

std::vector<AppListPage> InstalledAppPages::of(std::vector<AppInfo> apps) {
    const std::size_t count = std::max<std::size_t>(1, (apps.size() + pageSize - 1) / pageSize);
    std::vector<AppListPage> pages(count);
    for (std::size_t index = 0; index < count; ++index) {
        const auto first =
            apps.begin() + static_cast<std::ptrdiff_t>(std::min(apps.size(), index * pageSize));
        const auto last =
            apps.begin() + static_cast<std::ptrdiff_t>(std::min(apps.size(), (index + 1) * pageSize));
        pages[index] = AppListPage{.apps = {std::make_move_iterator(first), std::make_move_iterator(last)},
                                   .index = static_cast<std::int64_t>(index),
                                   .isLast = index + 1 == count};
    }
    return pages;
}

} // namespace velm
