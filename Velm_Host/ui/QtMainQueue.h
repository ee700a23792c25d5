#pragma once

#include "platform/dispatch/Queue.h"

#include <memory>
#include <string>

class QObject;
class QThread;

namespace velm {

class ScheduledCall;

// The main queue of a Qt program: work runs on the GUI thread, from its event loop, in post order;
// postAfter runs on a Qt timer there. Make it on the GUI thread once the application object exists,
// and install it with Queue::setMain. Work posted after the application object is gone is dropped.
class QtMainQueue final : public Queue, public std::enable_shared_from_this<QtMainQueue> {
public:
    static std::shared_ptr<QtMainQueue> make(std::string label = "velm.main");

    void post(std::function<void()> work) override;
    WorkItem postAfter(Clock::duration delay, std::function<void()> work) override;
    bool isCurrent() const override { return isMarkedCurrent(); }
    Clock::time_point now() const override { return Clock::now(); }
    const std::string& label() const override { return label_; }

private:
    // The Qt timer that waits for one call; touched on the GUI thread only.
    struct Alarm {
        int timerId = 0;
    };

    explicit QtMainQueue(std::string label);

    // On the GUI thread: a timer for the call, armed again while its deadline lies beyond the
    // longest single wait a Qt timer takes.
    void arm(std::shared_ptr<ScheduledCall> call, std::shared_ptr<Alarm> alarm, Clock::time_point deadline);
    // On the GUI thread: stops the call's timer, which lets go of what it holds at once rather than
    // when its time comes.
    void disarm(Alarm& alarm);
    // From any thread: disarms on the GUI thread, at once when that is this one.
    void disarmSoon(const std::shared_ptr<Alarm>& alarm);

    std::string label_;
    // Receives the posted work and runs the timers on the GUI thread; a child of the application
    // object, which deletes it.
    QObject* receiver_ = nullptr;
    QThread* guiThread_ = nullptr;
};

} // namespace velm
