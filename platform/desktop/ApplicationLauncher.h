#pragma once

#include "platform/desktop/LaunchResult.h"

#include <cstdint>
#include <functional>
#include <string>

namespace velm {

// Starts installed applications and tells when one it started has quit.
class ApplicationLauncher {
public:
    using EndHandler = std::function<void(std::uint64_t launch)>;

    virtual ~ApplicationLauncher() = default;

    // Called on the owner's queue with the number of a launch whose process ended.
    virtual void setOnEnded(EndHandler handler) = 0;
    // Starts the application of a desktop file id with no files to open.
    virtual LaunchResult launch(const std::string& id) = 0;
};

} // namespace velm
