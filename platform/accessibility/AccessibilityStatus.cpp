#include "platform/accessibility/AccessibilityStatus.h"

#include "platform/dbus/BusConnection.h"
#include "platform/log/Log.h"

#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <systemd/sd-bus.h>

namespace velm::AccessibilityStatus {
namespace {

const Log accessibilityStatusLog("accessibility");

constexpr const char* service = "org.a11y.Bus";
constexpr const char* path = "/org/a11y/bus";
constexpr const char* properties = "org.freedesktop.DBus.Properties";
constexpr const char* status = "org.a11y.Status";
constexpr const char* property = "IsEnabled";
// A bus on this machine sets a connection up in milliseconds; a busy machine gets more, a frozen bus no more.
constexpr std::chrono::milliseconds setupLimit{2000};

// What a reply says, or nothing when it says nothing of use.
using Reading = std::function<std::optional<bool>(sd_bus_message* reply)>;
using Arguments = std::function<int(sd_bus_message* call)>;

// One call to the launcher's properties, and what `read` makes of its reply: nothing when the call
// failed or no reply came. The call waits at most `timeout` once the connection is set up.
std::optional<bool> ask(BusConnection& connection, const char* method, Arguments arguments, Reading read,
                        std::chrono::milliseconds timeout) {
    auto answer = std::make_shared<std::promise<std::optional<bool>>>();
    auto answered = answer->get_future();
    connection.post([=](BusConnection& bus) {
        sd_bus_message* call = nullptr;
        if (sd_bus_message_new_method_call(bus.bus(), &call, service, path, properties, method) < 0) {
            answer->set_value(std::nullopt);
            return;
        }
        const bool sent =
            arguments(call) >= 0 &&
            bus.call(call, timeout, [=](sd_bus_message* reply, const std::optional<std::string>& error) {
                if (error) {
                    accessibilityStatusLog.info("accessibility switch: %s failed: %s", method,
                                                error->c_str());
                }
                answer->set_value(error ? std::nullopt : read(reply));
            });
        sd_bus_message_unref(call);
        if (!sent) {
            answer->set_value(std::nullopt);
        }
    });
    // The connection answers every call in time, or fails it; the slack only keeps this wait bounded
    // whatever.
    if (answered.wait_for(setupLimit + 2 * timeout) != std::future_status::ready) {
        return std::nullopt;
    }
    return answered.get();
}

// The switch's state, or nothing when it cannot be read.
std::optional<bool> isEnabled(BusConnection& bus, std::chrono::milliseconds timeout) {
    return ask(
        bus, "Get", [](sd_bus_message* call) { return sd_bus_message_append(call, "ss", status, property); },
        [](sd_bus_message* reply) -> std::optional<bool> {
            int enabled = 0;
            if (sd_bus_message_enter_container(reply, 'v', "b") <= 0 ||
                sd_bus_message_read(reply, "b", &enabled) <= 0) {
                return std::nullopt;
            }
            return enabled != 0;
        },
        timeout);
}

bool enable(BusConnection& bus, std::chrono::milliseconds timeout) {
    return ask(
               bus, "Set",
               [](sd_bus_message* call) {
                   return sd_bus_message_append(call, "ssv", status, property, "b", 1);
               },
               [](sd_bus_message*) -> std::optional<bool> { return true; }, timeout)
        .has_value();
}

} // namespace

AccessibilityWake turnOn(std::chrono::milliseconds timeout) {
    // Only a bus this session names is asked: none is launched or guessed at.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) {
        return AccessibilityWake::unavailable;
    }
    const auto bus = BusConnection::open(address, setupLimit);
    if (!bus) {
        return AccessibilityWake::unavailable;
    }
    if (const auto enabled = isEnabled(*bus, timeout)) {
        if (*enabled) {
            return AccessibilityWake::alreadyOn;
        }
        if (enable(*bus, timeout)) {
            return AccessibilityWake::turnedOn;
        }
    }
    return AccessibilityWake::unavailable;
}

} // namespace velm::AccessibilityStatus
