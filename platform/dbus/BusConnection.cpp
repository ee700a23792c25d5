#include "platform/dbus/BusConnection.h"

#include "platform/core/Utf8.h"
#include "platform/log/Log.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

namespace velm {
namespace {

const Log log("dbus");

// Milliseconds from now until an absolute CLOCK_MONOTONIC time in microseconds, as poll() takes them.
int pollTimeout(std::uint64_t deadlineMicros) {
    if (deadlineMicros == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowMicros =
        static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
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
    Core(sd_bus* openBus, std::string threadName)
        : bus(openBus), name(std::move(threadName)), wakeDescriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~Core() {
        // Frees the slots, and with them the handlers, of calls and matches still installed.
        sd_bus_flush_close_unref(bus);
        if (wakeDescriptor >= 0) {
            close(wakeDescriptor);
        }
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wakeDescriptor, &one, sizeof one);
    }

    void run(BusConnection* owner) {
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        while (runTasks(owner)) {
            if (!isLost && !process()) {
                return;
            }
            pollfd descriptors[2] = {{wakeDescriptor, POLLIN, 0}, {-1, 0, 0}};
            int timeout = -1;
            if (!isLost) {
                descriptors[1].fd = sd_bus_get_fd(bus);
                descriptors[1].events = static_cast<short>(sd_bus_get_events(bus));
                std::uint64_t deadline = UINT64_MAX;
                sd_bus_get_timeout(bus, &deadline);
                timeout = pollTimeout(deadline);
            }
            if (poll(descriptors, isLost ? 1 : 2, timeout) < 0 && errno != EINTR) {
                log.error("%s: poll failed (%d)", name.c_str(), errno);
                return;
            }
            std::uint64_t count = 0;
            [[maybe_unused]] const auto drained = read(wakeDescriptor, &count, sizeof count);
        }
    }

    // Handles what the bus has for us; false once the connection is being dropped.
    bool process() {
        while (true) {
            {
                std::lock_guard guard(lock);
                if (stopping) {
                    return false;
                }
            }
            const int result = sd_bus_process(bus, nullptr);
            if (result == 0) {
                return true;
            }
            if (result < 0) {
                log.error("%s: the bus went away (%s)", name.c_str(), std::strerror(-result));
                isLost = true;
                return true;
            }
        }
    }

    bool runTasks(BusConnection* owner) {
        while (true) {
            Task task;
            {
                std::lock_guard guard(lock);
                if (stopping) {
                    return false;
                }
                if (tasks.empty()) {
                    return true;
                }
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task(*owner);
        }
    }

    sd_bus* const bus;
    const std::string name;
    const int wakeDescriptor;
    // Touched on the bus thread only.
    bool isLost = false;
    std::mutex lock;
    std::deque<Task> tasks;
    bool stopping = false;
};

std::shared_ptr<BusConnection> BusConnection::session() {
    sd_bus* bus = nullptr;
    const int result = sd_bus_open_user(&bus);
    if (result < 0) {
        log.error("no session bus (%s)", std::strerror(-result));
        return nullptr;
    }
    return start(bus, "velm.dbus.session");
}

std::shared_ptr<BusConnection> BusConnection::system() {
    sd_bus* bus = nullptr;
    const int result = sd_bus_open_system(&bus);
    if (result < 0) {
        log.error("no system bus (%s)", std::strerror(-result));
        return nullptr;
    }
    return start(bus, "velm.dbus.system");
}

std::shared_ptr<BusConnection> BusConnection::open(const std::string& address) {
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
        log.error("no bus at %s (%s)", address.c_str(), std::strerror(-result));
        sd_bus_unref(bus);
        return nullptr;
    }
    return start(bus, "velm.dbus");
}

std::shared_ptr<BusConnection> BusConnection::start(sd_bus* bus, const std::string& name) {
    auto core = std::make_shared<Core>(bus, name);
    if (core->wakeDescriptor < 0) {
        log.error("%s: no wake-up descriptor (%d)", name.c_str(), errno);
        return nullptr;
    }
    return std::shared_ptr<BusConnection>(new BusConnection(std::move(core)));
}

BusConnection::BusConnection(std::shared_ptr<Core> core) : core_(core) {
    // The thread reaches this object only through tasks, which the destructor drops before it lets go.
    thread_ = std::thread([core = std::move(core), this] { core->run(this); });
}

BusConnection::~BusConnection() {
    // Released outside the lock: what they hold may post on its way out.
    std::deque<Task> dropped;
    {
        std::lock_guard guard(core_->lock);
        core_->stopping = true;
        dropped.swap(core_->tasks);
    }
    core_->wake();
    if (isCurrent()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void BusConnection::post(Task task) {
    {
        std::lock_guard guard(core_->lock);
        if (core_->stopping) {
            return;
        }
        core_->tasks.push_back(std::move(task));
    }
    core_->wake();
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
        log.error("%s: cannot watch %s.%s (%s)", core_->name.c_str(), interface, member,
                  std::strerror(-result));
        return false;
    }
    adopt<SignalHandler>(slot);
    return true;
}

} // namespace velm
