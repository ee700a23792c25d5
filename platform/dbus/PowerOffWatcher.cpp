#include "platform/dbus/PowerOffWatcher.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/file/FileDescriptor.h"
#include "platform/log/Log.h"

#include <cstdlib>
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <utility>

namespace velm {
namespace {

const Log powerOffWatcherLog("dbus");

constexpr const char* logindName = "org.freedesktop.login1";
constexpr const char* logindPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* standardSystemBus = "unix:path=/run/dbus/system_bus_socket";

} // namespace

// The lock and the logind that granted it.
struct PowerOffWatcher::BusSide {
    std::string who;
    std::string logind;
    FileDescriptor lock;
    bool asking = false;
    // Between logind's word that the system goes down and its word that it does not after all.
    bool goingDown = false;

    // Inhibit("shutdown", who, why, "delay") answers with a descriptor; the lock lasts while it is open.
    static void takeLock(const std::shared_ptr<BusSide>& side, BusConnection& bus) {
        if (side->lock.isOpen() || side->asking) {
            return;
        }
        sd_bus_message* call = nullptr;
        if (sd_bus_message_new_method_call(bus.bus(), &call, logindName, logindPath, managerInterface,
                                           "Inhibit") < 0) {
            return;
        }
        side->asking =
            sd_bus_message_append(call, "ssss", "shutdown", side->who.c_str(),
                                  "Devices connected to this computer are told first", "delay") >= 0 &&
            bus.call(call, callTimeout,
                     [side](sd_bus_message* reply, const std::optional<std::string>& error) {
                         side->asking = false;
                         int fd = -1;
                         if (error || sd_bus_message_read(reply, "h", &fd) <= 0) {
                             powerOffWatcherLog.info("no power-off lock: %s",
                                                     error ? error->c_str() : "unreadable answer");
                             return;
                         }
                         // The descriptor belongs to the message.
                         side->lock = FileDescriptor(fcntl(fd, F_DUPFD_CLOEXEC, 3));
                         if (const char* sender = sd_bus_message_get_sender(reply)) {
                             side->logind = sender;
                         }
                     });
        sd_bus_message_unref(call);
    }
};

std::shared_ptr<BusConnection> PowerOffWatcher::systemBus() {
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return BusConnection::open(address != nullptr && address[0] != '\0' ? address : standardSystemBus);
}

std::shared_ptr<PowerOffWatcher> PowerOffWatcher::make(std::shared_ptr<BusConnection> bus,
                                                       std::shared_ptr<Queue> queue, std::string who) {
    return std::shared_ptr<PowerOffWatcher>(
        new PowerOffWatcher(std::move(bus), std::move(queue), std::move(who)));
}

PowerOffWatcher::PowerOffWatcher(std::shared_ptr<BusConnection> bus, std::shared_ptr<Queue> queue,
                                 std::string who)
    : bus_(std::move(bus)), queue_(std::move(queue)), busSide_(std::make_shared<BusSide>()) {
    busSide_->who = std::move(who);
}

void PowerOffWatcher::setOnPowerOff(std::function<void()> handler) {
    std::lock_guard guard(lock);
    onPowerOff_ = std::move(handler);
}

void PowerOffWatcher::start() {
    if (!bus_) {
        return;
    }
    bus_->post([self = weak_from_this(), side = busSide_](BusConnection& bus) {
        bus.watchSignal(logindPath, managerInterface, "PrepareForShutdown",
                        [self, side, &bus](sd_bus_message* signal) {
                            const char* sender = sd_bus_message_get_sender(signal);
                            int starting = 0;
                            if (sender == nullptr || side->logind.empty() || side->logind != sender ||
                                sd_bus_message_read(signal, "b", &starting) <= 0) {
                                return;
                            }
                            side->goingDown = starting != 0;
                            if (!starting) {
                                BusSide::takeLock(side, bus);
                            } else if (const auto watcher = self.lock()) {
                                watcher->powerOff();
                            }
                        });
        BusSide::takeLock(side, bus);
    });
}

// A shutdown called off before the release found the lock still held and took none: it is taken
// again here, for the next one.
void PowerOffWatcher::release() {
    if (bus_) {
        bus_->post([side = busSide_](BusConnection& bus) {
            side->lock.close();
            if (!side->goingDown) {
                BusSide::takeLock(side, bus);
            }
        });
    }
}

void PowerOffWatcher::powerOff() {
    queue_->post(whileAlive(shared_from_this(), [](PowerOffWatcher& self) {
        std::function<void()> handler;
        {
            std::lock_guard guard(self.lock);
            handler = self.onPowerOff_;
        }
        if (handler) {
            handler();
        }
    }));
}

} // namespace velm
