#include "platform/dbus/StatusNotifierWatch.h"

#include "platform/dispatch/WhileAlive.h"

#include <string>
#include <systemd/sd-bus.h>
#include <utility>

namespace velm {
namespace {

constexpr const char* watcherPath = "/StatusNotifierWatcher";

} // namespace

// The watcher as the bus last told of it.
struct StatusNotifierWatch::BusSide {
    std::weak_ptr<StatusNotifierWatch> watch;
    // The watcher's unique name; empty while nobody owns the name.
    std::string owner;
    bool hostRegistered = false;

    void tell() const {
        if (const auto self = watch.lock()) {
            self->heard(!owner.empty() && hostRegistered);
        }
    }

    void ownerIs(const std::shared_ptr<BusSide>& side, BusConnection& bus, std::string newOwner) {
        owner = std::move(newOwner);
        hostRegistered = false;
        if (owner.empty()) {
            tell();
        } else {
            askForHost(side, bus);
        }
    }

    // A reply for a watcher that has gone meanwhile is passed over: the newer one is asked already.
    static void askForHost(const std::shared_ptr<BusSide>& side, BusConnection& bus) {
        sd_bus_message* call = nullptr;
        if (sd_bus_message_new_method_call(bus.bus(), &call, side->owner.c_str(), watcherPath,
                                           "org.freedesktop.DBus.Properties", "Get") < 0) {
            side->tell();
            return;
        }
        const bool sent =
            sd_bus_message_append(call, "ss", watcherName, "IsStatusNotifierHostRegistered") >= 0 &&
            bus.call(call, callTimeout,
                     [side, askedOf = side->owner](sd_bus_message* reply,
                                                   const std::optional<std::string>& error) {
                         if (side->owner != askedOf) {
                             return;
                         }
                         int registered = 0;
                         side->hostRegistered =
                             !error && sd_bus_message_enter_container(reply, 'v', "b") > 0 &&
                             sd_bus_message_read(reply, "b", &registered) > 0 && registered != 0;
                         side->tell();
                     });
        sd_bus_message_unref(call);
        if (!sent) {
            side->tell();
        }
    }

    static void watchWatcher(const std::shared_ptr<BusSide>& side, BusConnection& bus) {
        bus.followOwner(watcherName, callTimeout,
                        [side, &bus](const std::string& owner) { side->ownerIs(side, bus, owner); });
        // Nothing more is heard of a watcher once the connection is gone, and the icon went with it.
        bus.watchLoss([side, &bus] { side->ownerIs(side, bus, ""); });
        // A host that leaves may leave another behind: the watcher is asked again.
        for (const char* member : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
            bus.watchSignal(watcherPath, watcherName, member, [side, &bus](sd_bus_message* signal) {
                if (!side->owner.empty() && BusConnection::senderOf(signal) == side->owner) {
                    askForHost(side, bus);
                }
            });
        }
    }
};

std::shared_ptr<StatusNotifierWatch> StatusNotifierWatch::make(std::shared_ptr<BusConnection> bus,
                                                               std::shared_ptr<Queue> queue) {
    auto watch =
        std::shared_ptr<StatusNotifierWatch>(new StatusNotifierWatch(std::move(bus), std::move(queue)));
    watch->busSide_->watch = watch;
    return watch;
}

StatusNotifierWatch::StatusNotifierWatch(std::shared_ptr<BusConnection> bus, std::shared_ptr<Queue> queue)
    : bus_(std::move(bus)), queue_(std::move(queue)), busSide_(std::make_shared<BusSide>()) {}

void StatusNotifierWatch::setOnChange(std::function<void()> handler) {
    std::lock_guard guard(lock);
    onChange_ = std::move(handler);
}

void StatusNotifierWatch::start(std::chrono::milliseconds firstAnswer) {
    if (!bus_) {
        return;
    }
    bus_->post([side = busSide_](BusConnection& bus) { BusSide::watchWatcher(side, bus); });
    std::unique_lock guard(lock);
    answered_.wait_for(guard, firstAnswer, [this] { return hasAnswer_; });
}

bool StatusNotifierWatch::isPresent() const {
    std::lock_guard guard(lock);
    return present_;
}

void StatusNotifierWatch::heard(bool present) {
    std::function<void()> handler;
    {
        std::lock_guard guard(lock);
        hasAnswer_ = true;
        answered_.notify_all();
        if (present_ == present) {
            return;
        }
        present_ = present;
        handler = onChange_;
    }
    if (handler) {
        queue_->post(whileAlive(shared_from_this(), [handler](StatusNotifierWatch&) { handler(); }));
    }
}

} // namespace velm
