#include "Velm_Host/ui/QtMainQueue.h"

#include "platform/dispatch/ScheduledCall.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>

namespace velm {

std::shared_ptr<QtMainQueue> QtMainQueue::make(std::string label) {
    return std::shared_ptr<QtMainQueue>(new QtMainQueue(std::move(label)));
}

void QtMainQueue::post(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        application, [self = shared_from_this(), work = std::move(work)] { self->runWork(work); },
        Qt::QueuedConnection);
}

WorkItem QtMainQueue::postAfter(Clock::duration delay, std::function<void()> work) {
    auto call = std::make_shared<ScheduledCall>(std::move(work));
    const auto due = deadline(now(), delay);
    post([weak = weak_from_this(), call, due] {
        if (const auto self = weak.lock()) {
            self->arm(call, due);
        }
    });
    return WorkItem(call);
}

void QtMainQueue::arm(std::shared_ptr<ScheduledCall> call, Clock::time_point deadline) {
    using Milliseconds = std::chrono::milliseconds;
    if (call->isCancelled()) {
        return;
    }
    const auto left = std::chrono::ceil<Milliseconds>(std::max(deadline - now(), Clock::duration::zero()));
    const auto wait = std::min<Milliseconds::rep>(left.count(), std::numeric_limits<int>::max());
    QTimer::singleShot(static_cast<int>(wait), Qt::PreciseTimer, QCoreApplication::instance(),
                       [self = shared_from_this(), call, deadline] {
                           if (self->now() < deadline) {
                               self->arm(call, deadline);
                           } else if (auto work = call->take()) {
                               self->runWork(*work);
                           }
                       });
}

} // namespace velm
