#include "platform/dispatch/WorkItem.h"

#include "platform/dispatch/ScheduledCall.h"

namespace velm {

WorkItem::WorkItem(std::shared_ptr<ScheduledCall> call) : call_(std::move(call)) {}

void WorkItem::cancel() const {
    if (call_) {
        call_->cancel();
    }
}

bool WorkItem::isCancelled() const {
    return call_ && call_->isCancelled();
}

} // namespace velm
