#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/x11/ScreenList.h"

#include <memory>
#include <mutex>
#include <vector>

namespace velm::test {

// Screens that change when the test says, reported on the queue given as a real list reports on its
// owner's.
class FakeScreenList final : public ScreenList {
public:
    explicit FakeScreenList(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}

    std::vector<Monitor> monitors() const override {
        std::lock_guard guard(lock);
        return monitors_;
    }
    void setOnChange(ChangeHandler handler) override {
        std::lock_guard guard(lock);
        onChange_ = std::move(handler);
    }
    void startWatching() override {
        std::lock_guard guard(lock);
        watching_ = true;
    }
    void stopWatching() override {
        std::lock_guard guard(lock);
        watching_ = false;
    }

    // The list reads `monitors` from now on, and tells whoever watches.
    void change(std::vector<Monitor> monitors) {
        std::lock_guard guard(lock);
        monitors_ = monitors;
        if (watching_ && onChange_) {
            queue_->post([handler = onChange_, monitors = std::move(monitors)] { handler(monitors); });
        }
    }

private:
    const std::shared_ptr<Queue> queue_;
    mutable std::mutex lock;
    std::vector<Monitor> monitors_;
    ChangeHandler onChange_;
    bool watching_ = false;
};

} // namespace velm::test
