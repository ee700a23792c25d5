#include "platform/dbus/PowerOffWatcher.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/file/FileDescriptor.h"
#include "platform/log/Log.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
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

// The logind of the moment and the lock it granted.
struct PowerOffWatcher::BusSide {
    std::string who;
    // logind's unique name as the bus last told of it; empty while nobody owns the name.
    std::string logind;
    FileDescriptor lock;
    // The logind asked for a lock that has not answered yet; empty when none is waited for.
    std::string asked;
    // Between logind's word that the system goes down and its word that it does not after all.
    bool goingDown = false;
    // The host let the shutdown in hand go on (release()).
    bool letGo = false;

    // A logind that restarted knows nothing of the lock its predecessor granted: a new one is asked.
    static void ownerIs(const std::shared_ptr<BusSide>& side, BusConnection& bus, std::string owner) {
        if (owner == side->logind) {
            return;
        }
        side->logind = std::move(owner);
        side->lock.close();
        side->goingDown = false;
        takeLock(side, bus);
    }

    // Inhibit("shutdown", who, why, "delay") answers with a descriptor; the lock lasts while it is open.
    // It is asked of this logind by its unique name, so that the lock comes from the one that is trusted.
    static void takeLock(const std::shared_ptr<BusSide>& side, BusConnection& bus) {
        if (side->lock.isOpen() || side->logind.empty() || side->asked == side->logind) {
            return;
        }
        sd_bus_message* call = nullptr;
        if (sd_bus_message_new_method_call(bus.bus(), &call, side->logind.c_str(), logindPath,
                                           managerInterface, "Inhibit") < 0) {
            return;
        }
        const bool sent =
            sd_bus_message_append(call, "ssss", "shutdown", side->who.c_str(),
                                  "Devices connected to this computer are told first", "delay") >= 0 &&
            bus.call(call, callTimeout,
                     [side, askedOf = side->logind](sd_bus_message* reply,
                                                    const std::optional<std::string>& error) {
                         if (side->asked == askedOf) {
                             side->asked.clear();
                         }
                         // A lock from a logind that has gone since holds nothing back, and one granted
                         // after the host let the shutdown go on would hold it until logind's own limit.
                         if (side->logind != askedOf || (side->goingDown && side->letGo)) {
                             return;
                         }
                         int fd = -1;
                         if (error || sd_bus_message_read(reply, "h", &fd) <= 0) {
                             powerOffWatcherLog.info("no power-off lock: %s",
                                                     error ? error->c_str() : "unreadable answer");
                             return;
                         }
                         // The descriptor belongs to the message.
                         side->lock = FileDescriptor(fcntl(fd, F_DUPFD_CLOEXEC, 3));
                     });
        if (sent) {
            side->asked = side->logind;
        }
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
    // The bus handles what one client sends in order: the owner is known before the first shutdown
    // signal that this watch lets through.
    bus_->post([self = weak_from_this(), side = busSide_](BusConnection& bus) {
        bus.followOwner(logindName, callTimeout,
                        [side, &bus](const std::string& owner) { BusSide::ownerIs(side, bus, owner); });
        // Cut off from the bus, no shutdown can be heard coming: a lock kept would only hold each one back
        // until logind's own limit.
        bus.watchLoss([side, &bus] { BusSide::ownerIs(side, bus, ""); });
        bus.watchSignal(logindPath, managerInterface, "PrepareForShutdown",
                        [self, side, &bus](sd_bus_message* signal) {
                            int starting = 0;
                            if (side->logind.empty() || BusConnection::senderOf(signal) != side->logind ||
                                sd_bus_message_read(signal, "b", &starting) <= 0) {
                                return;
                            }
                            side->goingDown = starting != 0;
                            side->letGo = false;
                            if (!starting) {
                                BusSide::takeLock(side, bus);
                            } else if (const auto watcher = self.lock()) {
                                watcher->powerOff();
                            }
                        });
    });
}

// A shutdown called off before the release found the lock still held and took none: it is taken
// again here, for the next one.
void PowerOffWatcher::release() {
    if (bus_) {
        bus_->post([side = busSide_](BusConnection& bus) {
            side->lock.close();
            side->letGo = true;
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
