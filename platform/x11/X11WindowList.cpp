#include "platform/x11/X11WindowList.h"

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"

#include <X11/Xatom.h>
#include <cstring>
#include <optional>

namespace velm {
namespace {

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned char* data = nullptr;

    Property() = default;
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;
    ~Property() {
        if (data) {
            XFree(data);
        }
    }
};

// Reads at most `longs` 32-bit units of a property; false when it is absent or the window is gone.
bool readProperty(X11Connection& connection, Window window, Atom name, long longs, Property& property) {
    X11ErrorTrap trap(connection.display());
    unsigned long remaining = 0;
    const int status =
        XGetWindowProperty(connection.display(), window, name, 0, longs, False, AnyPropertyType,
                           &property.type, &property.format, &property.count, &remaining, &property.data);
    return status == Success && !trap.failed() && property.data && property.type != None;
}

WindowOwner ownerOf(X11Connection& connection, Window window) {
    WindowOwner owner;
    Property pid;
    if (readProperty(connection, window, connection.atom("_NET_WM_PID"), 1, pid) && pid.format == 32 &&
        pid.count == 1) {
        const long value = *reinterpret_cast<const long*>(pid.data);
        owner.pid = value > 0 && value <= 0x7FFFFFFF ? value : 0;
    }
    Property wmClass;
    if (readProperty(connection, window, XA_WM_CLASS, X11WindowList::maxClassBytes / 4, wmClass) &&
        wmClass.format == 8) {
        // Two strings, each ended by a zero byte; the end of the data ends the last one too.
        const auto* text = reinterpret_cast<const char*>(wmClass.data);
        const std::size_t size = wmClass.count;
        const std::size_t first = strnlen(text, size);
        owner.instanceName.assign(text, first);
        if (first + 1 < size) {
            owner.className.assign(text + first + 1, strnlen(text + first + 1, size - first - 1));
        }
    }
    return owner;
}

} // namespace

X11WindowList::X11WindowList() : connection_(X11Connection::open()) {}

X11WindowList::~X11WindowList() = default;

std::vector<WindowOwner> X11WindowList::owners() {
    std::lock_guard guard(lock);
    if (!connection_ || connection_->isLost()) {
        return {};
    }
    Property list;
    if (!readProperty(*connection_, connection_->root(), connection_->atom("_NET_CLIENT_LIST"), maxWindows,
                      list) ||
        list.format != 32 || list.type != XA_WINDOW) {
        return {};
    }
    std::vector<WindowOwner> owners;
    const auto* windows = reinterpret_cast<const unsigned long*>(list.data);
    for (unsigned long index = 0; index < list.count; ++index) {
        owners.push_back(ownerOf(*connection_, windows[index]));
    }
    return owners;
}

} // namespace velm
