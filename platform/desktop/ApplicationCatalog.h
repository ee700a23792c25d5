#pragma once

#include "platform/desktop/DesktopApp.h"

#include <optional>
#include <string>
#include <vector>

namespace velm {

// The applications installed, and which of them are running.
class ApplicationCatalog {
public:
    virtual ~ApplicationCatalog() = default;

    // The applications to show in a menu for this desktop, by name.
    virtual std::vector<DesktopApp> installed() = 0;
    // An application by its desktop file id, shown or not.
    virtual std::optional<DesktopApp> find(const std::string& id) = 0;
};

} // namespace velm
