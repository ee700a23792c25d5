#include "platform/x11/X11ScreenList.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/x11/RandrMonitors.h"
#include "platform/x11/X11EventLoop.h"

#include <X11/extensions/Xrandr.h>
#include <future>

namespace velm {

std::shared_ptr<X11ScreenList> X11ScreenList::make(std::shared_ptr<Queue> queue,
                                                   Queue::Clock::duration recheckInterval) {
    auto list = std::shared_ptr<X11ScreenList>(new X11ScreenList(std::move(queue), recheckInterval));
    if (!list->loop_) {
        return list;
    }
    // In place before the server is asked for events, so that none is read and dropped.
    list->loop_->setEventHandler(whileAlive(list, &X11ScreenList::handleEvent));
    // A server that stops answering leaves the list empty rather than holding the caller.
    auto read = std::make_shared<std::promise<void>>();
    auto done = read->get_future();
    list->loop_->post(whileAlive(list, [read](X11ScreenList& self, X11Connection& connection) {
        int errorBase = 0;
        if (RandrMonitors::isAvailable(connection) &&
            XRRQueryExtension(connection.display(), &self.randrEventBase_, &errorBase)) {
            XRRSelectInput(connection.display(), connection.root(),
                           RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
        }
        const auto monitors = RandrMonitors::read(connection);
        std::lock_guard guard(self.lock);
        self.monitors_ = monitors;
        read->set_value();
    }));
    done.wait_for(firstReadLimit);
    return list;
}

X11ScreenList::X11ScreenList(std::shared_ptr<Queue> queue, Queue::Clock::duration recheckInterval)
    : queue_(std::move(queue)), recheckInterval_(recheckInterval),
      loop_(X11EventLoop::open("velm.x11.screens")) {}

X11ScreenList::~X11ScreenList() = default;

std::vector<Monitor> X11ScreenList::monitors() const {
    std::lock_guard guard(lock);
    return monitors_;
}

void X11ScreenList::setOnChange(ChangeHandler handler) {
    queue_->post(whileAlive(shared_from_this(), [handler = std::move(handler)](X11ScreenList& self) {
        self.onChange_ = handler;
    }));
}

void X11ScreenList::startWatching() {
    queue_->post(whileAlive(shared_from_this(), [](X11ScreenList& self) {
        if (self.watching_ || !self.loop_) {
            return;
        }
        self.watching_ = true;
        self.scheduleRecheck(++self.generation_);
        self.requestRead();
    }));
}

void X11ScreenList::stopWatching() {
    queue_->post(whileAlive(shared_from_this(), [](X11ScreenList& self) {
        self.watching_ = false;
        ++self.generation_;
    }));
}

void X11ScreenList::scheduleRecheck(std::uint64_t generation) {
    queue_->postAfter(recheckInterval_, whileAlive(shared_from_this(), [generation](X11ScreenList& self) {
                          if (self.generation_ == generation) {
                              self.scheduleRecheck(generation);
                              self.requestRead();
                          }
                      }));
}

void X11ScreenList::requestRead() {
    loop_->post(whileAlive(shared_from_this(), &X11ScreenList::readOnLoop));
}

void X11ScreenList::handleEvent(X11Connection& connection, XEvent& event) {
    if (randrEventBase_ < 0) {
        return;
    }
    const int type = event.type - randrEventBase_;
    if (type == RRScreenChangeNotify || type == RRNotify) {
        XRRUpdateConfiguration(&event);
        readOnLoop(connection);
    }
}

void X11ScreenList::readOnLoop(X11Connection& connection) {
    auto monitors = RandrMonitors::read(connection);
    {
        std::lock_guard guard(lock);
        if (monitors == monitors_) {
            return;
        }
        monitors_ = monitors;
    }
    queue_->post(whileAlive(shared_from_this(), [monitors = std::move(monitors)](X11ScreenList& self) {
        if (self.watching_ && self.onChange_) {
            self.onChange_(monitors);
        }
    }));
}

} // namespace velm
