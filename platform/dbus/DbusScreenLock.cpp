#include "platform/dbus/DbusScreenLock.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <array>
#include <systemd/sd-bus.h>
#include <utility>

namespace velm {
namespace {

const Log dbusScreenLockLog("dbus");

struct Locker {
    const char* name; // for the log
    bool onSystemBus;
    const char* destination;
    const char* path;
    const char* interface;
    // How it says that the screen is locked: a Boolean property of `interface`, or a method of it
    // that answers with a Boolean.
    const char* sign;
    bool signIsProperty;
};

constexpr std::array lockers{
    Locker{"logind", true, "org.freedesktop.login1", "/org/freedesktop/login1/session/auto",
           "org.freedesktop.login1.Session", "LockedHint", true},
    Locker{"the screensaver", false, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
           "org.freedesktop.ScreenSaver", "GetActive", false},
};

// Sends `member` of the locker (its Properties.Get of the sign, when `ofProperties`) and hands the reply
// to `handler` on the bus thread; an error text instead when it could not be sent.
void send(BusConnection& bus, const Locker& locker, const char* member, bool ofProperties,
          std::chrono::milliseconds timeout, const BusConnection::ReplyHandler& handler) {
    sd_bus_message* call = nullptr;
    const char* interface = ofProperties ? "org.freedesktop.DBus.Properties" : locker.interface;
    bool sent = sd_bus_message_new_method_call(bus.bus(), &call, locker.destination, locker.path, interface,
                                               member) >= 0;
    if (sent && ofProperties) {
        sent = sd_bus_message_append(call, "ss", locker.interface, locker.sign) >= 0;
    }
    sent = sent && bus.call(call, timeout, handler);
    sd_bus_message_unref(call);
    if (!sent) {
        handler(nullptr, std::string("the call could not be sent"));
    }
}

// True only for a well-formed true; anything else the answer holds counts as not locked.
bool readSign(sd_bus_message* reply, bool isProperty) {
    int value = 0;
    const int read =
        isProperty ? sd_bus_message_read(reply, "v", "b", &value) : sd_bus_message_read(reply, "b", &value);
    return read > 0 && value != 0;
}

} // namespace

std::shared_ptr<DbusScreenLock> DbusScreenLock::make(std::shared_ptr<BusConnection> systemBus,
                                                     std::shared_ptr<BusConnection> sessionBus,
                                                     std::shared_ptr<Queue> queue, Timing timing) {
    return std::shared_ptr<DbusScreenLock>(
        new DbusScreenLock(std::move(systemBus), std::move(sessionBus), std::move(queue), timing));
}

DbusScreenLock::DbusScreenLock(std::shared_ptr<BusConnection> systemBus,
                               std::shared_ptr<BusConnection> sessionBus, std::shared_ptr<Queue> queue,
                               Timing timing)
    : systemBus_(std::move(systemBus)), sessionBus_(std::move(sessionBus)), queue_(std::move(queue)),
      timing_(timing) {}

void DbusScreenLock::lock(Done done) {
    auto attempt = std::make_shared<Attempt>();
    attempt->done = std::move(done);
    queue_->post(
        whileAlive(shared_from_this(), [attempt](DbusScreenLock& self) { self.tryLocker(attempt); }));
}

std::shared_ptr<BusConnection> DbusScreenLock::busOf(std::size_t locker) const {
    return lockers[locker].onSystemBus ? systemBus_ : sessionBus_;
}

void DbusScreenLock::tryLocker(std::shared_ptr<Attempt> attempt) {
    if (attempt->locker == lockers.size()) {
        attempt->done(attempt->accepted ? Result::unconfirmed : Result::failed);
        return;
    }
    const auto bus = busOf(attempt->locker);
    if (!bus) {
        next(std::move(attempt));
        return;
    }
    const auto answer = onQueueWhileAlive(queue_, weak_from_this(), &DbusScreenLock::lockAnswered);
    bus->post([attempt, answer, timeout = timing_.callTimeout](BusConnection& connection) {
        send(connection, lockers[attempt->locker], "Lock", false, timeout,
             [attempt, answer](sd_bus_message*, const std::optional<std::string>& error) {
                 answer(attempt, error);
             });
    });
}

void DbusScreenLock::lockAnswered(std::shared_ptr<Attempt> attempt, std::optional<std::string> error) {
    if (error) {
        dbusScreenLockLog.info("screen lock: %s did not take the request (%s)", lockers[attempt->locker].name,
                               error->c_str());
        next(std::move(attempt));
        return;
    }
    attempt->accepted = true;
    check(std::move(attempt), timing_.checks);
}

void DbusScreenLock::check(std::shared_ptr<Attempt> attempt, int checksLeft) {
    const auto answer = onQueueWhileAlive(queue_, weak_from_this(), &DbusScreenLock::checked);
    busOf(attempt->locker)
        ->post([attempt, answer, checksLeft, timeout = timing_.callTimeout](BusConnection& connection) {
            const Locker& locker = lockers[attempt->locker];
            send(connection, locker, locker.signIsProperty ? "Get" : locker.sign, locker.signIsProperty,
                 timeout,
                 [attempt, answer, checksLeft, &locker](sd_bus_message* reply,
                                                        const std::optional<std::string>& error) {
                     answer(attempt, checksLeft - 1, !error && readSign(reply, locker.signIsProperty));
                 });
        });
}

void DbusScreenLock::checked(std::shared_ptr<Attempt> attempt, int checksLeft, bool locked) {
    if (locked) {
        attempt->done(Result::locked);
    } else if (checksLeft > 0) {
        queue_->postAfter(timing_.checkInterval,
                          whileAlive(weak_from_this(), [attempt, checksLeft](DbusScreenLock& self) {
                              self.check(attempt, checksLeft);
                          }));
    } else {
        dbusScreenLockLog.info("screen lock: %s never said the screen is locked",
                               lockers[attempt->locker].name);
        next(std::move(attempt));
    }
}

void DbusScreenLock::next(std::shared_ptr<Attempt> attempt) {
    ++attempt->locker;
    tryLocker(std::move(attempt));
}

} // namespace velm
