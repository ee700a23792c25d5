#pragma once

#include "platform/display/Monitor.h"

#include <functional>
#include <vector>

namespace velm {

// The desktop's screens and their changes.
class ScreenList {
public:
    using ChangeHandler = std::function<void(std::vector<Monitor>)>;

    virtual ~ScreenList() = default;

    // The screens as last read; empty without a desktop. Safe from any thread.
    virtual std::vector<Monitor> monitors() const = 0;
    // Called on the owner's queue with the whole new list after each change seen while watching.
    virtual void setOnChange(ChangeHandler handler) = 0;
    virtual void startWatching() = 0;
    virtual void stopWatching() = 0;
};

} // namespace velm
