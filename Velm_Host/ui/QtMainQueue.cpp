#include "Velm_Host/ui/QtMainQueue.h"

#include "platform/dispatch/ScheduledCall.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <limits>
#include <unordered_map>
#include <utility>

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

    // Runs `onTime` once, after `milliseconds`; the id stops it before. 0 when Qt has no timer to give.
    int startAlarm(int milliseconds, std::function<void()> onTime) {
        const int id = startTimer(milliseconds, Qt::PreciseTimer);
        if (id != 0) {
            alarms_.emplace(id, std::move(onTime));
        }
        return id;
    }

    void stopAlarm(int id) {
        const auto found = alarms_.find(id);
        if (found == alarms_.end()) {
            return;
        }
        killTimer(id);
        // Released once the map no longer holds it: what it captured may take this object's alarms.
        const std::function<void()> released = std::move(found->second);
        alarms_.erase(found);
    }

protected:
    void timerEvent(QTimerEvent* event) override {
        const auto found = alarms_.find(event->timerId());
        if (found == alarms_.end()) {
            QObject::timerEvent(event);
            return;
        }
        killTimer(event->timerId());
        const std::function<void()> onTime = std::move(found->second);
        alarms_.erase(found);
        onTime();
    }

private:
    std::unordered_map<int, std::function<void()>> alarms_;
};

} // namespace

std::shared_ptr<QtMainQueue> QtMainQueue::make(std::string label) {
    return std::shared_ptr<QtMainQueue>(new QtMainQueue(std::move(label)));
}

QtMainQueue::QtMainQueue(std::string label) : label_(std::move(label)), guiThread_(QThread::currentThread()) {
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
    auto alarm = std::make_shared<Alarm>();
    call->setOnCancel([weak = weak_from_this(), alarm] {
        if (const auto self = weak.lock()) {
            self->disarmSoon(alarm);
        }
    });
    const auto due = deadline(now(), delay);
    post([weak = weak_from_this(), call, alarm, due] {
        if (const auto self = weak.lock()) {
            self->arm(call, alarm, due);
        }
    });
    return WorkItem(call);
}

void QtMainQueue::arm(std::shared_ptr<ScheduledCall> call, std::shared_ptr<Alarm> alarm,
                      Clock::time_point deadline) {
    using Milliseconds = std::chrono::milliseconds;
    if (call->isCancelled() || QCoreApplication::instance() == nullptr) {
        return;
    }
    const auto left = std::chrono::ceil<Milliseconds>(std::max(deadline - now(), Clock::duration::zero()));
    const auto wait = std::min<Milliseconds::rep>(left.count(), std::numeric_limits<int>::max());
    alarm->timerId = static_cast<WorkReceiver*>(receiver_)->startAlarm(
        static_cast<int>(wait), [self = shared_from_this(), call, alarm, deadline] {
            alarm->timerId = 0;
            if (self->now() < deadline) {
                self->arm(call, alarm, deadline);
            } else if (auto work = call->take()) {
                self->runWork(*work);
            }
        });
}

void QtMainQueue::disarm(Alarm& alarm) {
    const int id = std::exchange(alarm.timerId, 0);
    if (id != 0 && QCoreApplication::instance() != nullptr) {
        static_cast<WorkReceiver*>(receiver_)->stopAlarm(id);
    }
}

// A cancel from another thread reaches the timer behind the post that armed it, so it always finds it.
void QtMainQueue::disarmSoon(const std::shared_ptr<Alarm>& alarm) {
    if (QThread::currentThread() == guiThread_) {
        disarm(*alarm);
        return;
    }
    post([weak = weak_from_this(), alarm] {
        if (const auto self = weak.lock()) {
            self->disarm(*alarm);
        }
    });
}

} // namespace velm
