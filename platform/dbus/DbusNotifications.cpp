#include "platform/dbus/DbusNotifications.h"

#include "platform/core/Utf8.h"
#include "platform/dispatch/WhileAlive.h"

#include <set>
#include <systemd/sd-bus.h>
#include <utility>

namespace velm {
namespace {

constexpr const char* serverName = "org.freedesktop.Notifications";
constexpr const char* serverPath = "/org/freedesktop/Notifications";
constexpr const char* serverInterface = "org.freedesktop.Notifications";
// Notices we still follow; a server that never reports closings cannot make the list grow beyond it.
constexpr std::size_t maxFollowed = 256;
// The server's own expiry, and none.
constexpr std::int32_t defaultExpiry = -1;
constexpr std::int32_t neverExpires = 0;

// D-Bus refuses strings that are not UTF-8, and sd-bus also the noncharacters (U+FDD0..U+FDEF and the
// last two of every plane), which well-formed text from a peer may hold: one of them would keep the
// whole notice off the screen. A NUL would cut the text short.
std::string busText(const std::string& text) {
    std::string sendable;
    for (const char32_t point : Utf8::codePoints(Utf8::repaired(text))) {
        const bool refused = point == 0 || (point >= 0xFDD0 && point <= 0xFDEF) || (point & 0xFFFE) == 0xFFFE;
        Utf8::append(sendable, refused ? U'\uFFFD' : point);
    }
    return sendable;
}

bool appendHint(sd_bus_message* message, const char* key, const std::string& value) {
    return sd_bus_message_open_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv") >= 0 &&
           sd_bus_message_append(message, "s", key) >= 0 &&
           sd_bus_message_append(message, "v", "s", busText(value).c_str()) >= 0 &&
           sd_bus_message_close_container(message) >= 0;
}

// Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout).
bool appendNotice(sd_bus_message* message, const std::string& appName, const Notifications::Notice& notice) {
    const std::uint32_t replacesNone = 0;
    if (sd_bus_message_append(message, "susss", busText(appName).c_str(), replacesNone, "",
                              busText(notice.title).c_str(), busText(notice.body).c_str()) < 0 ||
        sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "s") < 0) {
        return false;
    }
    for (const Notifications::Action& action : notice.actions) {
        if (sd_bus_message_append(message, "ss", busText(action.key).c_str(), busText(action.title).c_str()) <
            0) {
            return false;
        }
    }
    if (sd_bus_message_close_container(message) < 0 ||
        sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{sv}") < 0) {
        return false;
    }
    if (!notice.category.empty() && !appendHint(message, "category", notice.category)) {
        return false;
    }
    const std::int32_t expiry = notice.staysUntilDismissed ? neverExpires : defaultExpiry;
    return sd_bus_message_close_container(message) >= 0 && sd_bus_message_append(message, "i", expiry) >= 0;
}

// A method call to the server, or null when it cannot be made.
sd_bus_message* newCall(sd_bus* bus, const char* member) {
    sd_bus_message* message = nullptr;
    if (sd_bus_message_new_method_call(bus, &message, serverName, serverPath, serverInterface, member) < 0) {
        return nullptr;
    }
    return message;
}

Notifications::Support readSupport(sd_bus_message* reply) {
    if (sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "s") < 0) {
        return Notifications::Support::withoutActions;
    }
    for (std::size_t read = 0; read < DbusNotifications::maxCapabilities; ++read) {
        const char* capability = nullptr;
        if (sd_bus_message_read(reply, "s", &capability) <= 0) {
            break;
        }
        if (std::string_view(capability) == "actions") {
            return Notifications::Support::withActions;
        }
    }
    return Notifications::Support::withoutActions;
}

} // namespace

// What the bus thread knows: which server shows our notices, and which notices are ours.
struct DbusNotifications::BusSide {
    std::string server;
    std::set<std::uint32_t> followed;

    // A server numbers its notices its own way: the numbers of one that has gone name nothing of ours
    // on the next, and they would push the next one's notices out of a full list.
    void learnServer(sd_bus_message* reply) {
        if (const char* sender = sd_bus_message_get_sender(reply)) {
            if (server != sender) {
                followed.clear();
            }
            server = sender;
        }
    }

    void follow(std::uint32_t id) {
        followed.insert(id);
        if (followed.size() > maxFollowed) {
            followed.erase(followed.begin());
        }
    }

    // True for a signal from our server about one of our notices; reads its id.
    bool isOurs(sd_bus_message* signal, std::uint32_t& id) const {
        const char* sender = sd_bus_message_get_sender(signal);
        return sender != nullptr && !server.empty() && server == sender &&
               sd_bus_message_read(signal, "u", &id) > 0 && followed.contains(id);
    }
};

std::shared_ptr<DbusNotifications> DbusNotifications::make(std::shared_ptr<BusConnection> bus,
                                                           std::shared_ptr<Queue> queue,
                                                           std::string appName) {
    auto notifications = std::shared_ptr<DbusNotifications>(
        new DbusNotifications(std::move(bus), std::move(queue), std::move(appName)));
    notifications->watch();
    return notifications;
}

DbusNotifications::DbusNotifications(std::shared_ptr<BusConnection> bus, std::shared_ptr<Queue> queue,
                                     std::string appName)
    : bus_(std::move(bus)), queue_(std::move(queue)), appName_(std::move(appName)),
      busSide_(std::make_shared<BusSide>()) {}

void DbusNotifications::setOnAction(ActionHandler handler) {
    onAction_.set(std::move(handler));
}

void DbusNotifications::setOnClosed(ClosedHandler handler) {
    onClosed_.set(std::move(handler));
}

void DbusNotifications::watch() {
    if (!bus_) {
        return;
    }
    bus_->post([self = weak_from_this(), side = busSide_](BusConnection& bus) {
        bus.watchSignal(serverPath, serverInterface, "ActionInvoked", [self, side](sd_bus_message* signal) {
            std::uint32_t id = 0;
            const char* key = nullptr;
            if (side->isOurs(signal, id) && sd_bus_message_read(signal, "s", &key) > 0) {
                if (const auto notifications = self.lock()) {
                    notifications->actionInvoked(id, Utf8::repaired(key));
                }
            }
        });
        bus.watchSignal(serverPath, serverInterface, "NotificationClosed",
                        [self, side](sd_bus_message* signal) {
                            std::uint32_t id = 0;
                            if (side->isOurs(signal, id)) {
                                side->followed.erase(id);
                                if (const auto notifications = self.lock()) {
                                    notifications->notificationClosed(id);
                                }
                            }
                        });
    });
}

void DbusNotifications::show(Notice notice, Shown shown) {
    const auto report = [queue = queue_, shown](std::optional<std::uint32_t> id, std::string error) {
        queue->post([shown, id, error = std::move(error)] { shown(id, error); });
    };
    if (!bus_) {
        report(std::nullopt, "no session bus");
        return;
    }
    bus_->post([notice = std::move(notice), report, side = busSide_, appName = appName_](BusConnection& bus) {
        sd_bus_message* call = newCall(bus.bus(), "Notify");
        const bool sent =
            call != nullptr && appendNotice(call, appName, notice) &&
            bus.call(call, callTimeout,
                     [report, side](sd_bus_message* reply, const std::optional<std::string>& error) {
                         std::uint32_t id = 0;
                         if (error) {
                             report(std::nullopt, *error);
                             return;
                         }
                         if (sd_bus_message_read(reply, "u", &id) <= 0) {
                             report(std::nullopt, "the server's answer is unreadable");
                             return;
                         }
                         side->learnServer(reply);
                         side->follow(id);
                         report(id, "");
                     });
        sd_bus_message_unref(call);
        if (!sent) {
            report(std::nullopt, "the notice could not be sent");
        }
    });
}

void DbusNotifications::close(std::uint32_t id) {
    if (!bus_) {
        return;
    }
    bus_->post([id](BusConnection& bus) {
        sd_bus_message* call = newCall(bus.bus(), "CloseNotification");
        // A notice that is already gone answers with an error, which changes nothing.
        if (call != nullptr && sd_bus_message_append(call, "u", id) >= 0) {
            bus.call(call, callTimeout, [](sd_bus_message*, const std::optional<std::string>&) {});
        }
        sd_bus_message_unref(call);
    });
}

void DbusNotifications::checkSupport(std::function<void(Check)> answer) {
    const auto report = [queue = queue_, answer = std::move(answer)](Check check) {
        queue->post([answer, check = std::move(check)] { answer(check); });
    };
    if (!bus_) {
        report({Support::none, "no session bus"});
        return;
    }
    bus_->post([report, side = busSide_](BusConnection& bus) {
        sd_bus_message* call = newCall(bus.bus(), "GetCapabilities");
        const bool sent =
            call != nullptr &&
            bus.call(call, callTimeout,
                     [report, side](sd_bus_message* reply, const std::optional<std::string>& error) {
                         if (error) {
                             report({Support::none, *error});
                             return;
                         }
                         side->learnServer(reply);
                         report({readSupport(reply), std::nullopt});
                     });
        sd_bus_message_unref(call);
        if (!sent) {
            report({Support::none, "the bus is gone"});
        }
    });
}

void DbusNotifications::actionInvoked(std::uint32_t id, std::string actionKey) {
    queue_->post(
        whileAlive(shared_from_this(), [id, actionKey = std::move(actionKey)](DbusNotifications& self) {
            self.onAction_(id, actionKey);
        }));
}

void DbusNotifications::notificationClosed(std::uint32_t id) {
    queue_->post(whileAlive(shared_from_this(), [id](DbusNotifications& self) { self.onClosed_(id); }));
}

} // namespace velm
