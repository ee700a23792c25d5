#include "platform/x11/RandrMonitors.h"

#include "platform/core/Utf8.h"
#include "platform/x11/Edid.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11PropertyReply.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>
#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

namespace velm::RandrMonitors {
namespace {

struct ResourcesFree {
    void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
};
struct OutputFree {
    void operator()(XRROutputInfo* info) const { XRRFreeOutputInfo(info); }
};
struct CrtcFree {
    void operator()(XRRCrtcInfo* info) const { XRRFreeCrtcInfo(info); }
};
struct MonitorsFree {
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
};

constexpr std::array<std::string_view, 3> builtInPrefixes = {"eDP", "LVDS", "DSI"};
constexpr std::size_t maxOutputName = 64;
// A monitor's name is an atom any X client may make, of up to 64 KiB and in no particular encoding, and it
// travels to the device with every screen of the host's hello.
constexpr std::size_t maxMonitorName = 64;

std::string shownName(std::string_view atomName) {
    std::string name = Utf8::repaired(atomName);
    name.resize(Utf8::cutLength(name, maxMonitorName));
    return name;
}

bool isBuiltInName(std::string_view name) {
    return std::any_of(builtInPrefixes.begin(), builtInPrefixes.end(),
                       [&](std::string_view prefix) { return name.starts_with(prefix); });
}

std::optional<Edid> readEdid(X11Connection& connection, RROutput output) {
    Display* display = connection.display();
    X11ErrorTrap trap(display);
    X11PropertyReply reply;
    // Only the base block is read, however long the monitor's EDID is.
    const int status = XRRGetOutputProperty(display, output, connection.atom("EDID"), 0, Edid::blockSize / 4,
                                            False, False, AnyPropertyType, &reply.type, &reply.format,
                                            &reply.count, &reply.remaining, &reply.data);
    if (status != Success || trap.failed() || !reply.holds(XA_INTEGER, 8)) {
        return std::nullopt;
    }
    return Edid::parse(ByteView(reply.data, std::min<unsigned long>(reply.count, Edid::blockSize)));
}

std::optional<double> refreshRate(const XRRScreenResources& resources, RRMode mode) {
    for (int index = 0; index < resources.nmode; ++index) {
        const XRRModeInfo& info = resources.modes[index];
        if (info.id != mode) {
            continue;
        }
        double lines = info.vTotal;
        if (info.modeFlags & RR_DoubleScan) {
            lines *= 2;
        }
        if (info.modeFlags & RR_Interlace) {
            lines /= 2;
        }
        if (info.hTotal == 0 || lines <= 0 || info.dotClock == 0) {
            return std::nullopt;
        }
        return static_cast<double>(info.dotClock) / (static_cast<double>(info.hTotal) * lines);
    }
    return std::nullopt;
}

// The name, built-in flag, EDID and refresh rate from the monitor's first output.
void describeOutput(X11Connection& connection, const XRRScreenResources& resources, RROutput output,
                    Monitor& monitor, bool& hasOutput) {
    Display* display = connection.display();
    X11ErrorTrap trap(display);
    const std::unique_ptr<XRROutputInfo, OutputFree> info(
        XRRGetOutputInfo(display, const_cast<XRRScreenResources*>(&resources), output));
    if (!info || trap.failed()) {
        return;
    }
    hasOutput = true;
    const std::string outputName(info->name, std::clamp(info->nameLen, 0, int(maxOutputName)));
    monitor.isBuiltIn = isBuiltInName(outputName);
    if (info->crtc != None) {
        const std::unique_ptr<XRRCrtcInfo, CrtcFree> crtc(
            XRRGetCrtcInfo(display, const_cast<XRRScreenResources*>(&resources), info->crtc));
        if (crtc && !trap.failed()) {
            monitor.refreshRate = refreshRate(resources, crtc->mode);
        }
    }
    if (const auto edid = readEdid(connection, output)) {
        monitor.vendor = edid->vendor;
        if (!edid->productName.empty()) {
            monitor.name = edid->productName;
        }
    }
}

Monitor wholeRoot(X11Connection& connection) {
    Display* display = connection.display();
    const int screen = DefaultScreen(display);
    Monitor monitor;
    monitor.name = "Screen";
    monitor.id = idForName(monitor.name);
    monitor.frame = {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    monitor.isMain = true;
    return monitor;
}

std::optional<ScreenRect> visiblePart(const ScreenRect& frame, const ScreenRect& root) {
    const long left = std::max<long>(frame.x, root.x);
    const long top = std::max<long>(frame.y, root.y);
    const long right = std::min<long>(long(frame.x) + frame.width, long(root.x) + root.width);
    const long bottom = std::min<long>(long(frame.y) + frame.height, long(root.y) + root.height);
    if (right <= left || bottom <= top) {
        return std::nullopt;
    }
    return ScreenRect{int(left), int(top), int(right - left), int(bottom - top)};
}

void chooseMain(std::vector<Monitor>& monitors, const std::vector<bool>& primary,
                const std::vector<bool>& backed) {
    auto pick = std::find(primary.begin(), primary.end(), true);
    std::size_t main = static_cast<std::size_t>(pick - primary.begin());
    if (pick == primary.end()) {
        pick = std::find(backed.begin(), backed.end(), true);
        main = pick == backed.end() ? 0 : static_cast<std::size_t>(pick - backed.begin());
    }
    if (main < monitors.size()) {
        monitors[main].isMain = true;
    }
}

// Two names with one hash would share a number; the later one takes the next free number.
void makeIdsUnique(std::vector<Monitor>& monitors) {
    std::set<std::uint32_t> taken;
    for (Monitor& monitor : monitors) {
        while (monitor.id == 0 || !taken.insert(monitor.id).second) {
            ++monitor.id;
        }
    }
}

} // namespace

bool isAvailable(X11Connection& connection) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XRRQueryExtension(connection.display(), &eventBase, &errorBase) &&
           XRRQueryVersion(connection.display(), &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
}

std::uint32_t idForName(const std::string& name) {
    std::uint32_t hash = 2166136261u;
    for (const char character : name) {
        hash = (hash ^ static_cast<std::uint8_t>(character)) * 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

std::vector<Monitor> read(X11Connection& connection) {
    if (!isAvailable(connection)) {
        return {wholeRoot(connection)};
    }
    Display* display = connection.display();
    const std::unique_ptr<XRRScreenResources, ResourcesFree> resources(
        XRRGetScreenResourcesCurrent(display, connection.root()));
    int count = 0;
    const std::unique_ptr<XRRMonitorInfo, MonitorsFree> infos(
        XRRGetMonitors(display, connection.root(), True, &count));
    if (!infos || count <= 0) {
        return {wholeRoot(connection)};
    }
    const ScreenRect root = wholeRoot(connection).frame;
    std::vector<Monitor> monitors;
    std::vector<bool> primary;
    std::vector<bool> backed;
    for (int index = 0; index < count && monitors.size() < maxMonitors; ++index) {
        const XRRMonitorInfo& info = infos.get()[index];
        // Any client may place a monitor partly or wholly off the root window, where nothing can be
        // captured or played: only what lies on it is shown.
        const auto frame = visiblePart({info.x, info.y, info.width, info.height}, root);
        if (!frame) {
            continue;
        }
        Monitor monitor;
        const std::string monitorName = connection.atomName(info.name);
        monitor.id = idForName(monitorName);
        monitor.name = shownName(monitorName);
        monitor.frame = *frame;
        bool hasOutput = false;
        if (resources && info.noutput > 0 && info.outputs) {
            describeOutput(connection, *resources, info.outputs[0], monitor, hasOutput);
        }
        monitors.push_back(std::move(monitor));
        primary.push_back(info.primary != 0);
        backed.push_back(hasOutput);
    }
    if (monitors.empty()) {
        return {wholeRoot(connection)};
    }
    chooseMain(monitors, primary, backed);
    makeIdsUnique(monitors);
    return monitors;
}

} // namespace velm::RandrMonitors
