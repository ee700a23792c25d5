#pragma once

#include <functional>

namespace velm {

// Whether the desktop shows a system tray the host's icon can go into, and when that changes: a panel
// often starts after the programs opened at login, and may be started again or leave.
class SystemTray {
public:
    virtual ~SystemTray() = default;

    // On the main queue.
    virtual bool isPresent() const = 0;
    // Called on the main queue after each change of isPresent().
    virtual void setOnChange(std::function<void()> handler) = 0;
};

} // namespace velm
