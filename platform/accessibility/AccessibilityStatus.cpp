#include "platform/accessibility/AccessibilityStatus.h"

#include "platform/log/Log.h"

#include <gio/gio.h>
#include <optional>

namespace velm::AccessibilityStatus {
namespace {

const Log accessibilityStatusLog("accessibility");

constexpr const char* service = "org.a11y.Bus";
constexpr const char* path = "/org/a11y/bus";
constexpr const char* properties = "org.freedesktop.DBus.Properties";

struct Failure {
    GError* error = nullptr;
    ~Failure() { g_clear_error(&error); }
    const char* message() const { return error ? error->message : "no answer"; }
};

struct Reply {
    GVariant* value = nullptr;
    ~Reply() {
        if (value) {
            g_variant_unref(value);
        }
    }
};

// The switch's state, or nothing when it cannot be read.
std::optional<bool> isEnabled(GDBusConnection* bus, int timeoutMs) {
    Failure failure;
    Reply reply{g_dbus_connection_call_sync(
        bus, service, path, properties, "Get", g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &failure.error)};
    if (!reply.value) {
        accessibilityStatusLog.info("accessibility switch unreadable: %s", failure.message());
        return std::nullopt;
    }
    Reply inner{nullptr};
    g_variant_get(reply.value, "(v)", &inner.value);
    if (!inner.value || !g_variant_is_of_type(inner.value, G_VARIANT_TYPE_BOOLEAN)) {
        return std::nullopt;
    }
    return g_variant_get_boolean(inner.value) != FALSE;
}

bool enable(GDBusConnection* bus, int timeoutMs) {
    Failure failure;
    Reply reply{g_dbus_connection_call_sync(
        bus, service, path, properties, "Set",
        g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &failure.error)};
    if (!reply.value) {
        accessibilityStatusLog.info("accessibility switch refused: %s", failure.message());
    }
    return reply.value != nullptr;
}

} // namespace

AccessibilityWake turnOn(std::chrono::milliseconds timeout) {
    // GIO would launch a bus of its own for a process that has none; we only talk to an existing one.
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) {
        return AccessibilityWake::unavailable;
    }
    Failure failure;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &failure.error);
    if (!bus) {
        accessibilityStatusLog.info("no session bus: %s", failure.message());
        return AccessibilityWake::unavailable;
    }
    const int timeoutMs = static_cast<int>(timeout.count());
    AccessibilityWake result = AccessibilityWake::unavailable;
    if (const auto enabled = isEnabled(bus, timeoutMs)) {
        if (*enabled) {
            result = AccessibilityWake::alreadyOn;
        } else if (enable(bus, timeoutMs)) {
            result = AccessibilityWake::turnedOn;
        }
    }
    g_object_unref(bus);
    return result;
}

} // namespace velm::AccessibilityStatus
