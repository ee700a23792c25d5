#include "Velm_Host/curtain/Curtain.h"
#include "platform/dbus/DbusScreenLock.h"
#include "platform/dispatch/TimerfdBootClock.h"
#include "platform/x11/X11DeviceGrab.h"
#include "platform/x11/X11InputSink.h"
#include "platform/x11/X11ScreenCapture.h"
#include "platform/x11/X11ScreenList.h"
#include "platform/x11/X11ShieldWindows.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/X11DesktopTest.h"
#include "tests/support/X11InputRecorder.h"
#include "tests/x11/Screenshot.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <thread>
#include <unistd.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Kind = test::X11InputRecorder::Kind;
using Received = test::X11InputRecorder::Received;

// How XInput 2 lists each device now: attached below a master, or floating (held by a grab).
std::map<std::string, int> deviceUses(Display* display) {
    std::map<std::string, int> uses;
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int index = 0; index < count; ++index) {
        uses[devices[index].name] = devices[index].use;
    }
    XIFreeDeviceInfo(devices);
    return uses;
}

// Xvfb's own mouse and keyboard are the physical devices; the XTEST ones carry injected input.
bool physicalDevicesHeld(Display* display) {
    auto uses = deviceUses(display);
    return uses["Xvfb mouse"] == XIFloatingSlave && uses["Xvfb keyboard"] == XIFloatingSlave &&
           uses["Virtual core XTEST pointer"] == XISlavePointer &&
           uses["Virtual core XTEST keyboard"] == XISlaveKeyboard;
}

std::map<std::string, int> deviceIds(Display* display) {
    std::map<std::string, int> ids;
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int index = 0; index < count; ++index) {
        ids[devices[index].name] = devices[index].deviceid;
    }
    XIFreeDeviceInfo(devices);
    return ids;
}

bool physicalDevicesFree(Display* display) {
    auto uses = deviceUses(display);
    return uses["Xvfb mouse"] == XISlavePointer && uses["Xvfb keyboard"] == XISlaveKeyboard;
}

// The frames of the mapped shields that lie above every other window, top first.
std::vector<ScreenRect> shieldsOnTop(Display* display) {
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<ScreenRect> frames;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned int index = count; index-- > 0;) {
        XClassHint hint{};
        XWindowAttributes attributes{};
        if (!XGetClassHint(display, children[index], &hint)) {
            break;
        }
        const bool shield = std::string(hint.res_name) == "velm-curtain";
        XFree(hint.res_name);
        XFree(hint.res_class);
        if (!shield || !XGetWindowAttributes(display, children[index], &attributes)) {
            break;
        }
        if (attributes.map_state == IsViewable) {
            frames.push_back({attributes.x, attributes.y, attributes.width, attributes.height});
        }
    }
    if (children) {
        XFree(children);
    }
    return frames;
}

// The window on top of the root window's stack.
Window topWindow(Display* display) {
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    const Window top = count > 0 ? children[count - 1] : None;
    if (children) {
        XFree(children);
    }
    return top;
}

// The curtain with its real parts on the sandbox's display; nothing locks it (no bus).
class CurtainX11Test : public test::X11DesktopTest {
protected:
    void SetUp() override {
        X11DesktopTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        std::string reason;
        recorder = test::X11InputRecorder::open(reason);
        ASSERT_TRUE(recorder) << reason;
        curtain = Curtain::make(
            {.screens = X11ScreenList::make(queue),
             .shields = X11ShieldWindows::make(Curtain::label),
             .tap = std::make_shared<CurtainTap>(X11DeviceGrab::make("velm.curtain.tap", queue)),
             .screenLock = DbusScreenLock::make(nullptr, nullptr, queue, {}),
             .bootClock = std::make_shared<TimerfdBootClock>()},
            queue);
        owner = curtain->newOwner();
    }

    void raise() {
        ASSERT_EQ(curtain->raise(owner, true), (CurtainState{.available = true, .on = true}));
        ASSERT_TRUE(Blocking::waitUntil([&] { return shieldsOnTop(display()) == fullScreen; }));
    }

    Display* display() const { return desktop->display(); }

    const std::vector<ScreenRect> fullScreen{{0, 0, 1920, 1080}};
    std::unique_ptr<test::X11InputRecorder> recorder;
    const std::shared_ptr<Queue> queue = Queue::make("velm.host.curtain");
    std::shared_ptr<Curtain> curtain;
    Curtain::Owner owner = 0;
};

TEST_F(CurtainX11Test, ShieldsCoverTheScreenAboveEveryWindowAndLetInjectedInputThrough) {
    raise();
    desktop->makeWindow("velm-late-window", 1);
    EXPECT_TRUE(Blocking::waitUntil([&] { return shieldsOnTop(display()) == fullScreen; }))
        << "a window mapped later goes below the shields again";

    const auto picture = X11ScreenCapture().capture({0, 0, 1920, 1080});
    ASSERT_TRUE(picture);
    test::saveScreenshot(*picture, "curtain_shield");
    const auto brightness = [&](int x, int y) {
        return picture->pixels[static_cast<std::size_t>((y * picture->width + x) * 4 + 1)];
    };
    EXPECT_EQ(brightness(10, 10), 0);
    int lit = 0;
    for (int x = 760; x < 1160; ++x) {
        lit += brightness(x, 536) > 0;
    }
    EXPECT_GT(lit, 20) << "the label lies in the middle";

    // What the host injects (XTEST) passes the shields and the grabs and reaches the window below.
    recorder->takeRest();
    X11InputSink sink;
    sink.postMouse({InputEventSink::MouseType::leftDown, 0, {300, 200}});
    sink.postMouse({InputEventSink::MouseType::leftUp, 0, {300, 200}});
    sink.postKey({0, true});
    sink.postKey({0, false});
    const auto received = recorder->take([](const std::vector<Received>& events) {
        return std::count_if(events.begin(), events.end(),
                             [](const Received& event) { return event.kind == Kind::keyRelease; }) > 0;
    });
    const auto press = std::find_if(received.begin(), received.end(),
                                    [](const Received& event) { return event.kind == Kind::buttonPress; });
    ASSERT_NE(press, received.end()) << "the click fell through the shield";
    EXPECT_EQ(std::tuple(press->detail, press->rootX, press->rootY), std::tuple(1u, 300, 200));
    EXPECT_TRUE(std::any_of(received.begin(), received.end(), [](const Received& event) {
        return event.kind == Kind::keyPress && event.keysym == 'a';
    }));
}

TEST_F(CurtainX11Test, HoldsThePhysicalDevicesWhileUpAndLetsThemGoWhenLowered) {
    ASSERT_TRUE(physicalDevicesFree(display()));
    raise();
    EXPECT_TRUE(Blocking::waitUntil([&] { return physicalDevicesHeld(display()); }));
    EXPECT_EQ(curtain->set(owner, false), (CurtainState{.available = true, .on = false}));
    EXPECT_TRUE(Blocking::waitUntil(
        [&] { return physicalDevicesFree(display()) && shieldsOnTop(display()).empty(); }));
}

// Another client that lowers a shield, or sends the topmost window to the bottom of the stack, finds
// the shields back on top.
TEST_F(CurtainX11Test, ShieldsLoweredByAnotherClientRiseAgain) {
    raise();
    XLowerWindow(display(), topWindow(display()));
    XSync(display(), False);
    EXPECT_TRUE(Blocking::waitUntil([&] { return shieldsOnTop(display()) == fullScreen; }))
        << "a lowered shield";
    XCirculateSubwindowsDown(display(), DefaultRootWindow(display()));
    XSync(display(), False);
    EXPECT_TRUE(Blocking::waitUntil([&] { return shieldsOnTop(display()) == fullScreen; }))
        << "a shield circulated to the bottom";
}

// Held by another client, a device cannot be stopped: the shields go up all the same and the computer's
// own devices stay attached, so that input still works.
// A keyboard another client holds stays with it; the pointer is held all the same.
TEST_F(CurtainX11Test, ACurtainWhoseDevicesAreHeldElsewhereCoversTheScreenAndLeavesThemWorking) {
    const int keyboard = deviceIds(display())["Xvfb keyboard"];
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XIEventMask mask{keyboard, static_cast<int>(sizeof bits), bits};
    ASSERT_EQ(XIGrabDevice(display(), keyboard, DefaultRootWindow(display()), CurrentTime, None,
                           XIGrabModeAsync, XIGrabModeAsync, False, &mask),
              GrabSuccess);
    raise();
    EXPECT_TRUE(curtain->isUp());
    EXPECT_TRUE(Blocking::waitUntil([&] { return deviceUses(display())["Xvfb mouse"] == XIFloatingSlave; }))
        << "the devices that can be held are";
    XIUngrabDevice(display(), keyboard, CurrentTime);
    XSync(display(), False);
    EXPECT_EQ(curtain->set(owner, false), (CurtainState{.available = true, .on = false}));
    EXPECT_TRUE(Blocking::waitUntil([&] { return physicalDevicesFree(display()); }));
    EXPECT_TRUE(Blocking::waitUntil([&] { return shieldsOnTop(display()).empty(); }));
}

// A device that comes back to its master while the curtain is up, enabled again or attached by another
// client, would type into the desktop again whatever grab it had: it is held anew.
TEST_F(CurtainX11Test, ADeviceThatReturnsToItsMasterWhileUpIsHeldAgain) {
    const int keyboard = deviceIds(display())["Xvfb keyboard"];
    const Atom enabled = XInternAtom(display(), "Device Enabled", False);
    const auto enable = [&](bool on) {
        unsigned char value = on ? 1 : 0;
        XIChangeProperty(display(), keyboard, enabled, XA_INTEGER, 8, PropModeReplace, &value, 1);
        XSync(display(), False);
    };
    enable(false);
    // The display is shared: whatever happens here, the keyboard is left enabled.
    struct Reenabled {
        std::function<void(bool)> enable;
        ~Reenabled() { enable(true); }
    } reenabled{enable};
    raise();
    enable(true);
    EXPECT_TRUE(Blocking::waitUntil([&] { return physicalDevicesHeld(display()); })) << "enabled while up";

    XIAttachSlaveInfo attach{XIAttachSlave, keyboard, deviceIds(display())["Virtual core keyboard"]};
    XIChangeHierarchy(display(), reinterpret_cast<XIAnyHierarchyChangeInfo*>(&attach), 1);
    XSync(display(), False);
    EXPECT_TRUE(Blocking::waitUntil([&] { return physicalDevicesHeld(display()); }))
        << "attached by another client while up";

    EXPECT_EQ(curtain->set(owner, false), (CurtainState{.available = true, .on = false}));
    EXPECT_TRUE(Blocking::waitUntil([&] { return physicalDevicesFree(display()); }));
}

// The child's half: holds the devices as the curtain does until it is killed. Skipped unless the test
// below starts this program again.
TEST(CurtainGrabChild, HoldsTheDevicesUntilKilled) {
    if (!std::getenv("VELM_CURTAIN_CHILD")) {
        GTEST_SKIP() << "runs only as the child of GrabsEndWithTheProcessThatHeldThem";
    }
    CurtainTap tap(X11DeviceGrab::make("velm.curtain.tap", Queue::make("child")));
    ASSERT_TRUE(tap.start());
    std::cout << "held" << std::endl;
    std::this_thread::sleep_for(60s);
}

TEST_F(CurtainX11Test, GrabsEndWithTheProcessThatHeldThem) {
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    auto child = test::ChildProcess::start({self, "--gtest_filter=CurtainGrabChild.*"},
                                           {"VELM_CURTAIN_CHILD=1"}, test::ChildProcess::Output::piped);
    ASSERT_TRUE(child);
    std::optional<std::string> line;
    while ((line = child->readLine()) && *line != "held") {
    }
    ASSERT_TRUE(line) << "the child did not hold the devices";
    EXPECT_TRUE(physicalDevicesHeld(display()));
    // Ended by a signal: nothing of it runs to let the devices go.
    child.reset();
    EXPECT_TRUE(Blocking::waitUntil([&] { return physicalDevicesFree(display()); }));
}

} // namespace
} // namespace velm
