#include "Velm_Host/x11/X11SessionDesktop.h"

#include "Velm_Host/desktop/StreamSizing.h"
#include "platform/desktop/GioApplicationCatalog.h"
#include "platform/desktop/GioApplicationLauncher.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/image/Png.h"
#include "platform/log/Log.h"
#include "platform/x11/Glimpse.h"
#include "platform/x11/X11CursorMonitor.h"
#include "platform/x11/X11ScreenCapture.h"
#include "platform/x11/X11ScreenList.h"
#include "platform/x11/X11WindowList.h"

#include <algorithm>
#include <iterator>

namespace velm {
namespace {

const Log x11SessionDesktopLog("desktop");

DisplayInfo displayInfo(const Monitor& monitor) {
    return {monitor.id,          monitor.name,         monitor.frame.width, monitor.frame.height,
            monitor.frame.width, monitor.frame.height, monitor.isMain};
}

std::vector<DisplayInfo> displayInfos(const std::vector<Monitor>& monitors) {
    std::vector<DisplayInfo> displays;
    std::transform(monitors.begin(), monitors.end(), std::back_inserter(displays), displayInfo);
    return displays;
}

// The requested screen, else the main one.
const Monitor* chosenScreen(const std::vector<Monitor>& monitors, std::optional<std::uint32_t> requested) {
    const auto byID = std::find_if(monitors.begin(), monitors.end(), [&](const Monitor& monitor) {
        return requested && monitor.id == *requested;
    });
    if (byID != monitors.end()) {
        return &*byID;
    }
    const auto main =
        std::find_if(monitors.begin(), monitors.end(), [](const Monitor& monitor) { return monitor.isMain; });
    return main != monitors.end() ? &*main : nullptr;
}

// A desktop file id as the client may name one: a plain file name of printable characters. GIO
// looks ids up rather than opening them, but a NUL would cut the id short on the way there.
bool isDesktopFileID(const std::string& id) {
    return id.size() <= X11SessionDesktop::maxAppIDBytes && id.ends_with(".desktop") &&
           std::none_of(id.begin(), id.end(),
                        [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::optional<CursorShape> cursorShape(const CursorImage& cursor) {
    auto png = Png::encode(cursor.image);
    if (!png) {
        return std::nullopt;
    }
    // X has one scale: a pixel of the pointer as shown is a point, however small the picture kept of it.
    return CursorShape{std::move(*png), static_cast<double>(cursor.shownWidth),
                       static_cast<double>(cursor.shownHeight), static_cast<double>(cursor.shownHotSpotX),
                       static_cast<double>(cursor.shownHotSpotY)};
}

} // namespace

std::shared_ptr<X11SessionDesktop> X11SessionDesktop::make(Setup setup) {
    return std::shared_ptr<X11SessionDesktop>(new X11SessionDesktop(std::move(setup)));
}

X11SessionDesktop::X11SessionDesktop(Setup setup)
    : queue_(setup.queue), iconQueue_(std::move(setup.iconQueue)),
      deviceImages_(std::move(setup.deviceImages)), fileOffers_(setup.fileOffers),
      screens_(X11ScreenList::make(queue_)), cursor_(X11CursorMonitor::make(queue_)),
      capture_(std::make_shared<X11ScreenCapture>()), catalog_(std::make_shared<GioApplicationCatalog>()),
      launcher_(GioApplicationLauncher::make(queue_)),
      apps_(ApplicationLists::make(queue_, iconQueue_, catalog_, std::make_shared<X11WindowList>())),
      clipboard_(ClipboardBridge::make(std::move(setup.clipboard), std::move(setup.fileOffers))) {
    if (!hasDesktop()) {
        x11SessionDesktopLog.info(
            "no display: this session gets no screens, pictures, clipboard or applications");
    }
}

void X11SessionDesktop::setOnDisplaysChanged(std::function<void(std::vector<DisplayInfo>)> handler) {
    onDisplaysChanged_ = std::move(handler);
}

void X11SessionDesktop::setOnCursorShape(std::function<void(CursorShape)> handler) {
    onCursorShape_ = std::move(handler);
}

void X11SessionDesktop::setOnClipboard(std::function<void(ClipboardMessage)> handler) {
    onClipboard_ = std::move(handler);
}

void X11SessionDesktop::setOnFilesAvailable(std::function<void(std::vector<FileItem>)> handler) {
    onFilesAvailable_ = std::move(handler);
}

void X11SessionDesktop::setOnAppModeEnded(std::function<void(std::string reason)> handler) {
    onAppModeEnded_ = std::move(handler);
}

void X11SessionDesktop::start(std::shared_ptr<Queue> queue) {
    {
        std::lock_guard guard(lock);
        if (started_) {
            return;
        }
        started_ = true;
        sessionQueue_ = std::move(queue);
    }
    const auto self = shared_from_this();
    screens_->setOnChange(whileAlive(self, &X11SessionDesktop::handleScreens));
    screens_->startWatching();
    cursor_->setOnChange(whileAlive(self, &X11SessionDesktop::handleCursor));
    launcher_->setOnEnded(whileAlive(self, &X11SessionDesktop::handleAppEnded));
    clipboard_->setOnMessage(whileAlive(self, [](X11SessionDesktop& desktop, ClipboardMessage message) {
        desktop.report([message = std::move(message)](X11SessionDesktop& session) {
            if (session.onClipboard_) {
                session.onClipboard_(message);
            }
        });
    }));
    clipboard_->setOnFiles(whileAlive(self, [](X11SessionDesktop& desktop, std::vector<FileItem> files) {
        desktop.report([files = std::move(files)](X11SessionDesktop& session) {
            if (session.onFilesAvailable_) {
                session.onFilesAvailable_(files);
            }
        });
    }));
    clipboard_->start();
}

void X11SessionDesktop::stop() {
    {
        std::lock_guard guard(lock);
        if (stopped_) {
            return;
        }
        stopped_ = true;
        cursorReports_ = false;
    }
    screens_->stopWatching();
    cursor_->stopWatching();
    clipboard_->stop();
}

std::vector<DisplayInfo> X11SessionDesktop::displays() {
    return displayInfos(screens_->monitors());
}

void X11SessionDesktop::setClientMaxFPS(std::int64_t maxFPS) {
    std::lock_guard guard(lock);
    clientMaxFPS_ = maxFPS;
}

std::optional<StreamDescription> X11SessionDesktop::describe(const StreamRequest& request) {
    const auto monitors = screens_->monitors();
    const Monitor* screen = chosenScreen(monitors, request.displayID);
    std::optional<std::int64_t> clientMaxFPS;
    {
        std::lock_guard guard(lock);
        describedID_ = screen ? std::optional(screen->id) : std::nullopt;
        clientMaxFPS = clientMaxFPS_;
    }
    if (!screen) {
        return std::nullopt;
    }
    StreamDescription description = StreamSizing::describe(*screen, request, clientMaxFPS);
    describeApp(request, description);
    return description;
}

void X11SessionDesktop::describeApp(const StreamRequest& request, StreamDescription& description) {
    const std::string id = request.appBundleID.value_or("");
    const bool plain = isDesktopFileID(id);
    const auto app = plain ? catalog_->find(id) : std::nullopt;
    if (request.appBundleID && !app) {
        x11SessionDesktopLog.info("app mode: no application %s; the screen is shown",
                                  plain ? id.c_str() : "of that name");
    }
    // Held while launching, so that the end of a launch is never seen before the launch is noted.
    std::lock_guard guard(lock);
    if (!app) {
        appMode_.reset();
        return;
    }
    // A client asks for its stream again as its screen turns or its window is resized: what it started
    // and still runs is not started once more each time.
    const bool stillRunning = appMode_ && appMode_->id == app->id && appMode_->launch;
    if (request.launchApp.value_or(false) && !stillRunning) {
        const LaunchResult result = launcher_->launch(app->id);
        if (result.outcome != LaunchResult::Outcome::launched &&
            result.outcome != LaunchResult::Outcome::launchedUnwatched) {
            appMode_.reset();
            return;
        }
        const bool watched = result.outcome == LaunchResult::Outcome::launched;
        appMode_ = AppMode{app->id, app->name, watched ? std::optional(result.number) : std::nullopt};
    } else if (!appMode_ || appMode_->id != app->id) {
        appMode_ = AppMode{app->id, app->name, std::nullopt};
    }
    description.appName = app->name;
    description.appBundleID = app->id;
}

std::optional<SessionDesktop::Area> X11SessionDesktop::describedArea() {
    std::optional<std::uint32_t> id;
    {
        std::lock_guard guard(lock);
        id = describedID_;
    }
    const auto monitors = screens_->monitors();
    const auto screen = std::find_if(monitors.begin(), monitors.end(),
                                     [&](const Monitor& monitor) { return id && monitor.id == *id; });
    if (screen == monitors.end()) {
        return std::nullopt;
    }
    return Area{screen->frame.x, screen->frame.y, screen->frame.width, screen->frame.height};
}

void X11SessionDesktop::setCursorReports(bool on) {
    {
        std::lock_guard guard(lock);
        if (stopped_ || cursorReports_ == on) {
            return;
        }
        cursorReports_ = on;
    }
    if (!on) {
        cursor_->stopWatching();
        return;
    }
    cursor_->startWatching();
    // The client draws the pointer from now on, so it needs the picture shown now.
    queue_->post(whileAlive(shared_from_this(), [](X11SessionDesktop& self) {
        self.lastCursorSerial_.reset();
        if (const auto current = self.cursor_->current()) {
            self.handleCursor(*current);
        }
    }));
}

void X11SessionDesktop::glimpse(std::size_t maxBytes, std::function<void(std::optional<Bytes>)> completion) {
    // Reading and encoding a whole screen takes a while: not on a serial queue.
    Queue::global()->post([screens = screens_, capture = capture_, maxBytes, target = answerQueue(),
                           completion = std::move(completion)] {
        target->post([jpeg = Glimpse::take(*screens, *capture, maxBytes), completion] { completion(jpeg); });
    });
}

void X11SessionDesktop::receiveClipboard(const ClipboardMessage& message) {
    clipboard_->receive(message);
}

std::optional<std::filesystem::path> X11SessionDesktop::offeredFile(std::uint32_t id) {
    return fileOffers_->file(id);
}

void X11SessionDesktop::runningApps(std::function<void(std::vector<AppInfo>)> completion) {
    const auto target = answerQueue();
    if (!hasDesktop()) {
        target->post([completion = std::move(completion)] { completion({}); });
        return;
    }
    apps_->running([target, completion = std::move(completion)](std::vector<AppInfo> apps) {
        target->post([apps = std::move(apps), completion] { completion(apps); });
    });
}

void X11SessionDesktop::installedApps(std::function<void(std::vector<AppInfo>)> completion) {
    const auto target = answerQueue();
    if (!hasDesktop()) {
        target->post([completion = std::move(completion)] { completion({}); });
        return;
    }
    apps_->installed([target, completion = std::move(completion)](std::vector<AppInfo> apps) {
        target->post([apps = std::move(apps), completion] { completion(apps); });
    });
}

void X11SessionDesktop::deviceImage(std::function<void(DeviceImage)> completion) {
    iconQueue_->post([pictures = deviceImages_, target = answerQueue(), completion = std::move(completion)] {
        target->post([image = pictures ? pictures() : DeviceImage{}, completion] { completion(image); });
    });
}

bool X11SessionDesktop::hasDesktop() const {
    // Without RandR the server still has its root window as one screen: none means no server.
    return !screens_->monitors().empty();
}

std::shared_ptr<Queue> X11SessionDesktop::answerQueue() {
    std::lock_guard guard(lock);
    return sessionQueue_ ? sessionQueue_ : queue_;
}

void X11SessionDesktop::report(std::function<void(X11SessionDesktop&)> call) {
    std::shared_ptr<Queue> target;
    {
        std::lock_guard guard(lock);
        if (!started_ || stopped_) {
            return;
        }
        target = sessionQueue_;
    }
    target->post(whileAlive(shared_from_this(), [call = std::move(call)](X11SessionDesktop& self) {
        {
            std::lock_guard guard(self.lock);
            if (self.stopped_) {
                return;
            }
        }
        call(self);
    }));
}

void X11SessionDesktop::handleScreens(const std::vector<Monitor>& monitors) {
    report([displays = displayInfos(monitors)](X11SessionDesktop& self) {
        if (self.onDisplaysChanged_) {
            self.onDisplaysChanged_(displays);
        }
    });
}

void X11SessionDesktop::handleCursor(const CursorImage& cursor) {
    {
        std::lock_guard guard(lock);
        if (!cursorReports_) {
            return;
        }
    }
    if (lastCursorSerial_ == cursor.serial) {
        return;
    }
    lastCursorSerial_ = cursor.serial;
    auto shape = cursorShape(cursor);
    if (!shape) {
        return;
    }
    report([shape = std::move(*shape)](X11SessionDesktop& self) {
        if (self.onCursorShape_) {
            self.onCursorShape_(shape);
        }
    });
}

void X11SessionDesktop::handleAppEnded(std::uint64_t launch) {
    std::string name;
    {
        std::lock_guard guard(lock);
        if (!appMode_ || appMode_->launch != launch) {
            return;
        }
        name = appMode_->name;
        appMode_.reset();
    }
    report([reason = name + " quit."](X11SessionDesktop& self) {
        if (self.onAppModeEnded_) {
            self.onAppModeEnded_(reason);
        }
    });
}

} // namespace velm
