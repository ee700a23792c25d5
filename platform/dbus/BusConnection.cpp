#include "platform/dbus/BusConnection.h"

#include "platform/core/Utf8.h"
#include "platform/dispatch/ThreadInbox.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <utility>
#include <vector>

namespace velm {
namespace {

const Log busConnectionLog("dbus");

// CLOCK_MONOTONIC in microseconds, the clock of sd-bus's deadlines.
std::uint64_t monotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// Milliseconds from now until an absolute CLOCK_MONOTONIC time in microseconds, as poll() takes them.
int pollTimeout(std::uint64_t deadlineMicros) {
    if (deadlineMicros == UINT64_MAX) {
        return -1;
    }
    const std::uint64_t nowMicros = monotonicMicros();
    if (deadlineMicros <= nowMicros) {
        return 0;
    }
    const std::uint64_t waitMillis = (deadlineMicros - nowMicros + 999u) / 1000u;
    return waitMillis > 60'000u ? 60'000 : static_cast<int>(waitMillis);
}

// Handlers live in the userdata of their sd-bus slot and are freed with it: after a reply, or when the
// connection closes.
template <typename Handler> void freeHandler(void* userdata) {
    delete static_cast<Handler*>(userdata);
}

std::optional<std::string> errorOf(sd_bus_message* message) {
    const sd_bus_error* error = sd_bus_message_get_error(message);
    if (error == nullptr) {
        return std::nullopt;
    }
    std::string text = error->name != nullptr ? error->name : "error";
    if (error->message != nullptr) {
        text += ": ";
        text += error->message;
    }
    return Utf8::repaired(text);
}

int deliverReply(sd_bus_message* message, void* userdata, sd_bus_error*) {
    const auto& handler = *static_cast<BusConnection::ReplyHandler*>(userdata);
    handler(message, errorOf(message));
    return 0;
}

int deliverSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    const auto& handler = *static_cast<BusConnection::SignalHandler*>(userdata);
    handler(message);
    return 0;
}

// Makes a slot that the bus owns and that frees `handler` when it goes.
template <typename Handler> void adopt(sd_bus_slot* slot) {
    sd_bus_slot_set_destroy_callback(slot, &freeHandler<Handler>);
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
}

} // namespace

// Everything the thread touches; the thread holds it, so it outlives a connection dropped from inside.
struct BusConnection::Core {
    Core(sd_bus* openBus, std::string threadName, std::chrono::milliseconds setupLimit)
        : bus(openBus), name(std::move(threadName)),
          setupDeadline(monotonicMicros() +
                        static_cast<std::uint64_t>(std::chrono::microseconds(setupLimit).count())) {}

    // Frees the slots, and with them the handlers, of calls and matches still installed.
    ~Core() { sd_bus_flush_close_unref(bus); }

    void run() {
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        while (inbox.runTasks()) {
            if (!isLost && !process()) {
                return;
            }
            pollfd descriptor{-1, 0, 0};
            int timeout = -1;
            if (!isLost) {
                descriptor.fd = sd_bus_get_fd(bus);
                descriptor.events = static_cast<short>(sd_bus_get_events(bus));
                std::uint64_t deadline = UINT64_MAX;
                sd_bus_get_timeout(bus, &deadline);
                timeout = pollTimeout(isReady ? deadline : std::min(deadline, setupDeadline));
            }
            if (!inbox.wait(descriptor, timeout)) {
                busConnectionLog.error("%s: poll failed (%d)", name.c_str(), errno);
                return;
            }
        }
    }

    // Handles what the bus has for us; false once the connection is being dropped.
    bool process() {
        while (!inbox.isClosed()) {
            const int result = sd_bus_process(bus, nullptr);
            if (result == 0) {
                checkSetUp();
                return true;
            }
            if (result < 0) {
                busConnectionLog.error("%s: the bus went away (%s)", name.c_str(), std::strerror(-result));
                lose();
                return true;
            }
        }
        return false;
    }

    // A set-up past its limit is cut off at the socket: sd-bus then meets the end of the connection, as
    // when a bus goes away, and fails the calls held back for it.
    void checkSetUp() {
        if (!isReady) {
            isReady = sd_bus_is_ready(bus) > 0;
        }
        if (isReady || monotonicMicros() < setupDeadline) {
            return;
        }
        busConnectionLog.error("%s: the bus did not finish setting up the connection in time", name.c_str());
        setupDeadline = UINT64_MAX;
        shutdown(sd_bus_get_fd(bus), SHUT_RDWR);
    }

    void lose() {
        isLost = true;
        for (const auto& handler : std::exchange(lossHandlers, {})) {
            handler();
        }
    }

    sd_bus* const bus;
    const std::string name;
    // Touched on the bus thread only.
    std::uint64_t setupDeadline;
    bool isReady = false;
    bool isLost = false;
    std::vector<LossHandler> lossHandlers;
    ThreadInbox inbox;
};

std::shared_ptr<BusConnection> BusConnection::session(Absence absence) {
    sd_bus* bus = nullptr;
    const int result = sd_bus_open_user(&bus);
    if (result < 0) {
        if (absence == Absence::expected) {
            busConnectionLog.info("no session bus (%s)", std::strerror(-result));
        } else {
            busConnectionLog.error("no session bus (%s)", std::strerror(-result));
        }
        return nullptr;
    }
    return start(bus, "velm.dbus.session", defaultSetupLimit);
}

std::shared_ptr<BusConnection> BusConnection::system() {
    sd_bus* bus = nullptr;
    const int result = sd_bus_open_system(&bus);
    if (result < 0) {
        busConnectionLog.error("no system bus (%s)", std::strerror(-result));
        return nullptr;
    }
    return start(bus, "velm.dbus.system", defaultSetupLimit);
}

std::shared_ptr<BusConnection> BusConnection::open(const std::string& address,
                                                   std::chrono::milliseconds setupLimit) {
    sd_bus* bus = nullptr;
    int result = sd_bus_new(&bus);
    if (result >= 0) {
        result = sd_bus_set_address(bus, address.c_str());
    }
    if (result >= 0) {
        result = sd_bus_set_bus_client(bus, 1);
    }
    if (result >= 0) {
        result = sd_bus_start(bus);
    }
    if (result < 0) {
        busConnectionLog.error("no bus at %s (%s)", address.c_str(), std::strerror(-result));
        sd_bus_unref(bus);
        return nullptr;
    }
    return start(bus, "velm.dbus", setupLimit);
}

std::shared_ptr<BusConnection> BusConnection::start(sd_bus* bus, const std::string& name,
                                                    std::chrono::milliseconds setupLimit) {
    auto core = std::make_shared<Core>(bus, name, setupLimit);
    if (!core->inbox.isUsable()) {
        busConnectionLog.error("%s: no wake-up descriptor (%d)", name.c_str(), errno);
        return nullptr;
    }
    return std::shared_ptr<BusConnection>(new BusConnection(std::move(core)));
}

BusConnection::BusConnection(std::shared_ptr<Core> core) : core_(core) {
    thread_ = std::thread([core = std::move(core)] { core->run(); });
}

BusConnection::~BusConnection() {
    core_->inbox.closeAndJoin(thread_);
}

void BusConnection::post(Task task) {
    // The tasks reach this object only while it lives: the destructor drops them before it lets go.
    core_->inbox.post([this, task = std::move(task)] { task(*this); });
}

sd_bus* BusConnection::bus() {
    return core_->bus;
}

bool BusConnection::call(sd_bus_message* message, std::chrono::milliseconds timeout, ReplyHandler handler) {
    auto* owned = new ReplyHandler(std::move(handler));
    sd_bus_slot* slot = nullptr;
    const auto micros = static_cast<std::uint64_t>(std::chrono::microseconds(timeout).count());
    const int result = sd_bus_call_async(core_->bus, &slot, message, &deliverReply, owned, micros);
    if (result < 0) {
        delete owned;
        return false;
    }
    adopt<ReplyHandler>(slot);
    return true;
}

bool BusConnection::watchSignal(const char* path, const char* interface, const char* member,
                                SignalHandler handler) {
    auto* owned = new SignalHandler(std::move(handler));
    sd_bus_slot* slot = nullptr;
    const int result =
        sd_bus_match_signal(core_->bus, &slot, nullptr, path, interface, member, &deliverSignal, owned);
    if (result < 0) {
        delete owned;
        busConnectionLog.error("%s: cannot watch %s.%s (%s)", core_->name.c_str(), interface, member,
                               std::strerror(-result));
        return false;
    }
    adopt<SignalHandler>(slot);
    return true;
}

bool BusConnection::watchMatch(const std::string& rule, SignalHandler handler) {
    auto* owned = new SignalHandler(std::move(handler));
    sd_bus_slot* slot = nullptr;
    const int result = sd_bus_add_match(core_->bus, &slot, rule.c_str(), &deliverSignal, owned);
    if (result < 0) {
        delete owned;
        busConnectionLog.error("%s: cannot watch %s (%s)", core_->name.c_str(), rule.c_str(),
                               std::strerror(-result));
        return false;
    }
    adopt<SignalHandler>(slot);
    return true;
}

void BusConnection::followOwner(const std::string& name, std::chrono::milliseconds timeout,
                                OwnerHandler handler) {
    constexpr const char* busName = "org.freedesktop.DBus";
    constexpr const char* busPath = "/org/freedesktop/DBus";
    auto shared = std::make_shared<OwnerHandler>(std::move(handler));
    // Only the changes of this name reach this process, not those of every client on the bus.
    const std::string changes = std::string("type='signal',sender='") + busName + "',path='" + busPath +
                                "',interface='" + busName + "',member='NameOwnerChanged',arg0='" + name + "'";
    watchMatch(changes, [shared](sd_bus_message* signal) {
        const char* changed = nullptr;
        const char* before = nullptr;
        const char* after = nullptr;
        if (senderOf(signal) == busName &&
            sd_bus_message_read(signal, "sss", &changed, &before, &after) > 0) {
            (*shared)(after);
        }
    });
    sd_bus_message* ask = nullptr;
    if (sd_bus_message_new_method_call(bus(), &ask, busName, busPath, busName, "GetNameOwner") < 0) {
        (*shared)("");
        return;
    }
    const bool sent =
        sd_bus_message_append(ask, "s", name.c_str()) >= 0 &&
        call(ask, timeout, [shared](sd_bus_message* reply, const std::optional<std::string>& error) {
            const char* owner = nullptr;
            if (error || sd_bus_message_read(reply, "s", &owner) <= 0) {
                owner = "";
            }
            (*shared)(owner);
        });
    sd_bus_message_unref(ask);
    if (!sent) {
        (*shared)("");
    }
}

void BusConnection::watchLoss(LossHandler handler) {
    if (core_->isLost) {
        handler();
    } else {
        core_->lossHandlers.push_back(std::move(handler));
    }
}

std::string BusConnection::senderOf(sd_bus_message* message) {
    const char* sender = sd_bus_message_get_sender(message);
    return sender != nullptr ? sender : "";
}

} // namespace velm
