#include "platform/dispatch/ScheduledCall.h"

namespace velm {

void ScheduledCall::setOnCancel(std::function<void()> hook) {
    std::lock_guard guard(lock);
    onCancel_ = std::move(hook);
}

void ScheduledCall::cancel() {
    // Declared before the guard so that they are destroyed after it is released:
    // the work's captures may take locks of their own.
    Work dropped;
    std::function<void()> hook;
    {
        std::lock_guard guard(lock);
        if (cancelled_) {
            return;
        }
        cancelled_ = true;
        if (started_) {
            return;
        }
        dropped = std::move(work_);
        hook = std::move(onCancel_);
    }
    if (hook) {
        hook();
    }
}

bool ScheduledCall::isCancelled() const {
    std::lock_guard guard(lock);
    return cancelled_;
}

std::optional<ScheduledCall::Work> ScheduledCall::take() {
    std::function<void()> hook;
    std::lock_guard guard(lock);
    if (cancelled_ || started_) {
        return std::nullopt;
    }
    started_ = true;
    hook = std::move(onCancel_);
    return std::move(work_);
}

} // namespace velm
