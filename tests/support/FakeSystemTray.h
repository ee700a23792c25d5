#pragma once

#include "Velm_Host/ui/SystemTray.h"

#include <functional>
#include <utility>

namespace velm::test {

// A system tray that comes and goes when the test says; called on the test's thread, which runs the
// application's main queue.
class FakeSystemTray final : public SystemTray {
public:
    explicit FakeSystemTray(bool present = false) : present_(present) {}

    bool isPresent() const override { return present_; }
    void setOnChange(std::function<void()> handler) override { onChange_ = std::move(handler); }

    void set(bool present) {
        present_ = present;
        if (onChange_) {
            onChange_();
        }
    }

private:
    bool present_;
    std::function<void()> onChange_;
};

} // namespace velm::test
