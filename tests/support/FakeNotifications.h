#pragma once

#include "platform/dbus/Notifications.h"
#include "platform/dispatch/Queue.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velm::test {

// A notification server with buttons, in memory. Notices are numbered from 1 and reported shown, like
// everything else, through the queue it was made with; the test plays the user pressing buttons and
// dismissing notices, or the server starting afresh.
class FakeNotifications final : public Notifications {
public:
    explicit FakeNotifications(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}

    void setOnAction(ActionHandler handler) override {
        std::lock_guard guard(lock);
        onAction_ = std::move(handler);
    }
    void setOnClosed(ClosedHandler handler) override {
        std::lock_guard guard(lock);
        onClosed_ = std::move(handler);
    }
    void show(Notice notice, Shown shown) override {
        std::lock_guard guard(lock);
        const std::uint32_t id = ++lastID_;
        onScreen_[id] = std::move(notice);
        queue_->post([shown = std::move(shown), id] { shown(id, ""); });
    }
    void close(std::uint32_t id) override { dismiss(id); }
    void checkSupport(std::function<void(Check)> answer) override {
        queue_->post([answer = std::move(answer)] { answer({Support::withActions, std::nullopt}); });
    }

    // What is on screen, by number.
    std::map<std::uint32_t, Notice> onScreen() const {
        std::lock_guard guard(lock);
        return onScreen_;
    }
    void press(std::uint32_t id, std::string actionKey) {
        std::lock_guard guard(lock);
        queue_->post([handler = onAction_, id, actionKey = std::move(actionKey)] {
            if (handler) {
                handler(id, actionKey);
            }
        });
    }
    void dismiss(std::uint32_t id) {
        std::lock_guard guard(lock);
        if (onScreen_.erase(id) == 0) {
            return;
        }
        queue_->post([handler = onClosed_, id] {
            if (handler) {
                handler(id);
            }
        });
    }
    // A server that starts again has nothing on screen and numbers from 1 again, and tells nobody.
    void restart() {
        std::lock_guard guard(lock);
        onScreen_.clear();
        lastID_ = 0;
    }

private:
    const std::shared_ptr<Queue> queue_;
    mutable std::mutex lock;
    std::map<std::uint32_t, Notice> onScreen_;
    std::uint32_t lastID_ = 0;
    ActionHandler onAction_;
    ClosedHandler onClosed_;
};

} // namespace velm::test
