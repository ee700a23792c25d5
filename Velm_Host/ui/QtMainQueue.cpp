#include "Velm_Host/ui/QtMainQueue.h"

#include "platform/dispatch/ScheduledCall.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace velm {
namespace {

const auto workEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// Posted work rides in an event of its own: made on the posting thread, then run and deleted on the GUI
// thread, so that nothing of it is released on the posting thread. (A queued functor call is released by
// whichever thread drops Qt's last reference to it, which can be the poster after the work ran.) Qt's
// event queue hands the event over through atomics that ThreadSanitizer does not see, so the hand-over
// is told to it.
class WorkEvent final : public QEvent {
public:
    explicit WorkEvent(std::function<void()> work) : QEvent(workEventType), run(std::move(work)) {}

    std::function<void()> run;
};

void handOver([[maybe_unused]] QEvent* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(event);
#endif
}

// Before anything of the event is read, its type included.
void takeOver([[maybe_unused]] QEvent* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(event);
#endif
}

class WorkReceiver final : public QObject {
public:
    using QObject::QObject;

    bool event(QEvent* event) override {
        takeOver(event);
        if (event->type() != workEventType) {
            return QObject::event(event);
        }
        static_cast<WorkEvent*>(event)->run();
        return true;
    }
};

} // namespace

std::shared_ptr<QtMainQueue> QtMainQueue::make(std::string label) {
    return std::shared_ptr<QtMainQueue>(new QtMainQueue(std::move(label)));
}

QtMainQueue::QtMainQueue(std::string label) : label_(std::move(label)) {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        receiver_ = new WorkReceiver(application);
    }
}

void QtMainQueue::post(std::function<void()> work) {
    if (QCoreApplication::instance() == nullptr || receiver_ == nullptr) {
        return;
    }
    auto* event = new WorkEvent([self = shared_from_this(), work = std::move(work)] { self->runWork(work); });
    handOver(event);
    QCoreApplication::postEvent(receiver_, event);
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
