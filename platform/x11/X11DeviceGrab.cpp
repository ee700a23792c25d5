#include "platform/x11/X11DeviceGrab.h"

#include "platform/core/Utf8.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11EventLoop.h"
#include "platform/x11/X11PropertyReply.h"

#include <X11/Xatom.h>
#include <X11/extensions/XInput2.h>
#include <cstring>
#include <future>
#include <set>

namespace velm {
namespace {

const Log x11DeviceGrabLog("x11");

// Device names come from the hardware; logs need no more of them.
constexpr std::size_t maxNameBytes = 128;

std::string boundedName(const char* name) {
    return name ? Utf8::repaired(std::string_view(name, strnlen(name, maxNameBytes))) : std::string();
}

bool hasKeys(const XIDeviceInfo& info) {
    for (int index = 0; index < info.num_classes; ++index) {
        if (info.classes[index]->type == XIKeyClass) {
            return true;
        }
    }
    return false;
}

} // namespace

// What the grab's thread keeps: every Xlib call happens there.
struct X11DeviceGrab::LoopSide {
    Choice choice;
    std::function<void(Failure)> report;
    int opcode = -1;
    Atom xtestProperty = None;
    std::set<int> held;

    std::optional<Failure> begin(X11Connection& connection) {
        Display* display = connection.display();
        int eventBase = 0;
        int errorBase = 0;
        int major = 2;
        int minor = 0;
        if (!XQueryExtension(display, "XInputExtension", &opcode, &eventBase, &errorBase) ||
            XIQueryVersion(display, &major, &minor) != Success) {
            return Failure::noXInput2;
        }
        xtestProperty = XInternAtom(display, "XTEST Device", True);
        unsigned char bits[XIMaskLen(XI_HierarchyChanged)] = {};
        XISetMask(bits, XI_HierarchyChanged);
        XIEventMask mask{XIAllDevices, static_cast<int>(sizeof bits), bits};
        XISelectEvents(display, connection.root(), &mask, 1);

        // A device another client holds is left to it and the others are held all the same, as for one
        // that arrives later: holding none would leave every keyboard and pointer working.
        int count = 0;
        XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
        bool refused = false;
        for (int index = 0; index < count; ++index) {
            const auto device = describe(connection, devices[index]);
            if (device && choice(*device) && !hold(connection, *device)) {
                refused = true;
            }
        }
        if (devices) {
            XIFreeDeviceInfo(devices);
        }
        if (!refused) {
            return std::nullopt;
        }
        if (held.empty()) {
            return Failure::refused;
        }
        report(Failure::refused);
        return std::nullopt;
    }

    void handle(X11Connection& connection, XEvent& event) {
        Display* display = connection.display();
        if (event.type != GenericEvent || event.xcookie.extension != opcode ||
            !XGetEventData(display, &event.xcookie)) {
            return;
        }
        if (event.xcookie.evtype == XI_HierarchyChanged) {
            const auto* change = static_cast<const XIHierarchyEvent*>(event.xcookie.data);
            for (int index = 0; index < change->num_info; ++index) {
                const XIHierarchyInfo& info = change->info[index];
                // A disabled device loses its grab. One enabled, or attached to a master by another
                // client, sends to its master again even while our grab on it lasts: held anew, it
                // floats once more.
                if (info.flags & (XISlaveRemoved | XIDeviceDisabled | XIDeviceEnabled | XISlaveAttached)) {
                    held.erase(info.deviceid);
                }
                if (info.flags & (XISlaveAdded | XIDeviceEnabled | XISlaveAttached)) {
                    arrived(connection, info.deviceid);
                }
            }
        }
        XFreeEventData(display, &event.xcookie);
    }

    void arrived(X11Connection& connection, int id) {
        if (held.contains(id)) {
            return;
        }
        // The device may be gone again by now.
        X11ErrorTrap trap(connection.display());
        int count = 0;
        XIDeviceInfo* devices = XIQueryDevice(connection.display(), id, &count);
        const auto device = count == 1 ? describe(connection, devices[0]) : std::nullopt;
        if (devices) {
            XIFreeDeviceInfo(devices);
        }
        if (device && choice(*device) && !hold(connection, *device)) {
            report(Failure::refused);
        }
    }

    // Masters are left alone: grabbing one would hold the XTEST devices below it too.
    std::optional<InputDevice> describe(X11Connection& connection, const XIDeviceInfo& info) const {
        InputDevice device;
        switch (info.use) {
        case XISlavePointer:
            device.kind = InputDevice::Kind::pointer;
            break;
        case XISlaveKeyboard:
            device.kind = InputDevice::Kind::keyboard;
            break;
        case XIFloatingSlave:
            device.kind = hasKeys(info) ? InputDevice::Kind::keyboard : InputDevice::Kind::pointer;
            break;
        default:
            return std::nullopt;
        }
        device.id = info.deviceid;
        device.name = boundedName(info.name);
        device.isXtest = isXtest(connection, info.deviceid);
        return device;
    }

    bool isXtest(X11Connection& connection, int id) const {
        if (xtestProperty == None) {
            return false;
        }
        Display* display = connection.display();
        X11ErrorTrap trap(display);
        X11PropertyReply reply;
        const bool read =
            XIGetProperty(display, id, xtestProperty, 0, 1, False, XA_INTEGER, &reply.type, &reply.format,
                          &reply.count, &reply.remaining, &reply.data) == Success;
        const bool xtest =
            read && !trap.failed() && reply.holds(XA_INTEGER, 8) && reply.count >= 1 && reply.data[0] != 0;
        return xtest;
    }

    // With no event selected, what the device sends goes nowhere while we hold it.
    bool hold(X11Connection& connection, const InputDevice& device) {
        Display* display = connection.display();
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XIEventMask mask{device.id, static_cast<int>(sizeof bits), bits};
        X11ErrorTrap trap(display);
        const Status status = XIGrabDevice(display, device.id, connection.root(), CurrentTime, None,
                                           XIGrabModeAsync, XIGrabModeAsync, False, &mask);
        if (status != GrabSuccess || trap.failed()) {
            x11DeviceGrabLog.error("cannot hold the device %s (grab status %d)", device.name.c_str(),
                                   int(status));
            return false;
        }
        held.insert(device.id);
        return true;
    }
};

std::shared_ptr<X11DeviceGrab> X11DeviceGrab::make(std::string threadName, std::shared_ptr<Queue> queue) {
    return std::shared_ptr<X11DeviceGrab>(new X11DeviceGrab(std::move(threadName), std::move(queue)));
}

X11DeviceGrab::X11DeviceGrab(std::string threadName, std::shared_ptr<Queue> queue)
    : threadName_(std::move(threadName)), queue_(std::move(queue)) {}

X11DeviceGrab::~X11DeviceGrab() {
    stop();
}

void X11DeviceGrab::setOnFailed(FailureHandler handler) {
    std::lock_guard guard(lock);
    onFailed_ = std::move(handler);
}

std::optional<DeviceGrab::Failure> X11DeviceGrab::start(Choice choice) {
    stop();
    auto loop = X11EventLoop::open(threadName_);
    if (!loop) {
        return Failure::noDesktop;
    }
    std::uint64_t generation = 0;
    {
        std::lock_guard guard(lock);
        generation = generation_;
    }
    auto side = std::make_shared<LoopSide>();
    side->choice = std::move(choice);
    side->report = [self = weak_from_this(), queue = queue_, generation](Failure failure) {
        queue->post(whileAlive(
            self, [generation, failure](X11DeviceGrab& grab) { grab.report(generation, failure); }));
    };
    auto answer = std::make_shared<std::promise<std::optional<Failure>>>();
    auto answered = answer->get_future();
    loop->setEventHandler(
        [side](X11Connection& connection, XEvent& event) { side->handle(connection, event); });
    loop->post([side, answer](X11Connection& connection) { answer->set_value(side->begin(connection)); });
    // A failed start drops the loop here, and with its connection whatever it held.
    if (answered.wait_for(answerLimit) != std::future_status::ready) {
        return Failure::noAnswer;
    }
    if (const auto failure = answered.get()) {
        return failure;
    }
    std::lock_guard guard(lock);
    loop_ = std::move(loop);
    return std::nullopt;
}

void X11DeviceGrab::stop() {
    std::unique_ptr<X11EventLoop> loop;
    {
        std::lock_guard guard(lock);
        ++generation_;
        loop = std::move(loop_);
    }
    // Closing the connection lets every device go; outside the lock, since it waits for the thread.
    loop.reset();
}

void X11DeviceGrab::report(std::uint64_t generation, Failure failure) {
    FailureHandler handler;
    {
        std::lock_guard guard(lock);
        if (generation != generation_) {
            return;
        }
        handler = onFailed_;
    }
    if (handler) {
        handler(failure);
    }
}

} // namespace velm
