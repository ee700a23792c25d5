#pragma once

#include "Velm_Host/desktop/ApplicationLists.h"
#include "Velm_Host/desktop/ClipboardBridge.h"
#include "Velm_Host/desktop/FileOffers.h"
#include "Velm_Host/session/SessionDesktop.h"
#include "platform/desktop/ApplicationCatalog.h"
#include "platform/desktop/ApplicationLauncher.h"
#include "platform/dispatch/Queue.h"
#include "platform/display/Clipboard.h"
#include "platform/display/CursorMonitor.h"
#include "platform/display/ScreenCapture.h"
#include "platform/display/ScreenList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace velm {

// A session's desktop on the X display this process runs on: RandR screens, the XFixes cursor,
// stills of the main screen, the CLIPBOARD selection and the applications of the desktop entries. Each X
// service has a connection of its own. Without a display (no DISPLAY, or no server) there are no screens, and
// every answer is empty.
//
// The session's calls may come on its own queue while the X services report on the desktop's; the
// little state both touch is behind `lock`. Completions that come before start() run on the
// desktop's queue.
class X11SessionDesktop final : public SessionDesktop,
                                public std::enable_shared_from_this<X11SessionDesktop> {
public:
    struct Setup {
        // Where the desktop and its X services do their work and report.
        std::shared_ptr<Queue> queue;
        // The Qt GUI thread's: application icons and the pictures of this computer are drawn there.
        std::shared_ptr<Queue> iconQueue;
        // The process's, shared by its sessions: an X selection lasts only as long as its owner's
        // connection, so what a client put there stays offered after its session; and a client
        // downloads an offered file in a session of its own.
        std::shared_ptr<Clipboard> clipboard;
        std::shared_ptr<FileOffers> fileOffers;
        // Pictures of this computer and its screen, called on the icon queue; none when empty.
        std::function<DeviceImage()> deviceImages;
    };

    // A desktop-entry id that names an application is at most this long.
    static constexpr std::size_t maxAppIDBytes = 255;

    static std::shared_ptr<X11SessionDesktop> make(Setup setup);

    void setOnDisplaysChanged(std::function<void(std::vector<DisplayInfo>)> handler) override;
    void setOnCursorShape(std::function<void(CursorShape)> handler) override;
    void setOnClipboard(std::function<void(ClipboardMessage)> handler) override;
    void setOnFilesAvailable(std::function<void(std::vector<FileItem>)> handler) override;
    void setOnAppModeEnded(std::function<void(std::string reason)> handler) override;

    void start(std::shared_ptr<Queue> queue) override;
    void stop() override;

    std::vector<DisplayInfo> displays() override;
    void setClientMaxFPS(std::int64_t maxFPS) override;
    std::optional<StreamDescription> describe(const StreamRequest& request) override;
    std::optional<Area> describedArea() override;
    void setCursorReports(bool on) override;

    void glimpse(std::size_t maxBytes, std::function<void(std::optional<Bytes>)> completion) override;
    void receiveClipboard(const ClipboardMessage& message) override;
    std::optional<std::filesystem::path> offeredFile(std::uint32_t id) override;

    void runningApps(std::function<void(std::vector<AppInfo>)> completion) override;
    void installedApps(std::function<void(std::vector<AppInfo>)> completion) override;
    void deviceImage(std::function<void(DeviceImage)> completion) override;

private:
    // The application shown in app mode: the launch whose end is reported, when it is watched.
    struct AppMode {
        std::string id;
        std::string name;
        std::optional<std::uint64_t> launch;
    };

    explicit X11SessionDesktop(Setup setup);

    bool hasDesktop() const;
    std::shared_ptr<Queue> answerQueue();
    // Runs `call` on the session's queue while the desktop is started and not stopped.
    void report(std::function<void(X11SessionDesktop&)> call);
    void describeApp(const StreamRequest& request, StreamDescription& description);
    void handleScreens(const std::vector<Monitor>& monitors);
    void handleCursor(const CursorImage& cursor);
    void handleAppEnded(std::uint64_t launch);

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<Queue> iconQueue_;
    const std::function<DeviceImage()> deviceImages_;
    const std::shared_ptr<FileOffers> fileOffers_;
    const std::shared_ptr<ScreenList> screens_;
    const std::shared_ptr<CursorMonitor> cursor_;
    const std::shared_ptr<ScreenCapture> capture_;
    const std::shared_ptr<ApplicationCatalog> catalog_;
    const std::shared_ptr<ApplicationLauncher> launcher_;
    const std::shared_ptr<ApplicationLists> apps_;
    const std::shared_ptr<ClipboardBridge> clipboard_;

    // Set before start(), read on the session's queue.
    std::function<void(std::vector<DisplayInfo>)> onDisplaysChanged_;
    std::function<void(CursorShape)> onCursorShape_;
    std::function<void(ClipboardMessage)> onClipboard_;
    std::function<void(std::vector<FileItem>)> onFilesAvailable_;
    std::function<void(std::string)> onAppModeEnded_;

    mutable std::mutex lock;
    std::shared_ptr<Queue> sessionQueue_;
    bool started_ = false;
    bool stopped_ = false;
    std::optional<std::int64_t> clientMaxFPS_;
    std::optional<std::uint32_t> describedID_;
    std::optional<AppMode> appMode_;
    bool cursorReports_ = false;

    // Touched only on queue_.
    std::optional<std::uint64_t> lastCursorSerial_;
};

} // namespace velm
