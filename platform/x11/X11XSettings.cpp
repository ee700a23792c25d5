#include "platform/x11/X11XSettings.h"

#include "platform/log/Log.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11PropertyReply.h"

#include <string>

namespace velm {
namespace {

const Log x11XSettingsLog("x11");

} // namespace

std::optional<XSettings> X11XSettings::read() {
    const auto connection = X11Connection::open();
    if (!connection) {
        return std::nullopt;
    }
    Display* display = connection->display();
    const std::string selection = "_XSETTINGS_S" + std::to_string(DefaultScreen(display));
    const Window manager = XGetSelectionOwner(display, connection->atom(selection.c_str()));
    if (manager == None) {
        return std::nullopt;
    }
    // The manager may quit between the two requests.
    X11ErrorTrap trap(display);
    X11PropertyReply reply;
    XGetWindowProperty(display, manager, connection->atom("_XSETTINGS_SETTINGS"), 0,
                       static_cast<long>(XSettings::maxBytes / 4), False, AnyPropertyType, &reply.type,
                       &reply.format, &reply.count, &reply.remaining, &reply.data);
    if (trap.failed() || !reply.data || reply.format != 8) {
        return std::nullopt;
    }
    if (reply.remaining > 0) {
        x11XSettingsLog.error("xsettings not read: over %zu bytes", XSettings::maxBytes);
        return std::nullopt;
    }
    auto settings = XSettings::parse(ByteView(reply.data, reply.count));
    if (!settings) {
        x11XSettingsLog.error("xsettings not read: malformed");
    }
    return settings;
}

} // namespace velm
