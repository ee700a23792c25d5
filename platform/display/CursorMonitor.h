#pragma once

#include "platform/display/CursorImage.h"

#include <functional>
#include <optional>

namespace velm {

// The desktop's pointer picture and its changes.
class CursorMonitor {
public:
    using ChangeHandler = std::function<void(CursorImage)>;

    virtual ~CursorMonitor() = default;

    // The picture now shown; nothing without a desktop. Safe from any thread.
    virtual std::optional<CursorImage> current() const = 0;
    // Called on the owner's queue with each new picture shown while watching.
    virtual void setOnChange(ChangeHandler handler) = 0;
    virtual void startWatching() = 0;
    virtual void stopWatching() = 0;
};

} // namespace velm
