#pragma once

#include "platform/core/Bytes.h"
#include "protocol/AppInfo.h"
#include "protocol/ClipboardMessage.h"
#include "protocol/CursorShape.h"
#include "protocol/DisplayInfo.h"
#include "protocol/FileItem.h"
#include "protocol/StreamDescription.h"
#include "protocol/StreamRequest.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm {

class Queue;

// What one session tells and asks of this computer's desktop: its screens, the pointer and the cursor,
// a still picture, the clipboard, copied files and the applications. The session calls it on its own
// queue and hears from it through the setters, on the queue given to start(); set them before start().
// Answers that take time come back through a completion on that queue. Without a desktop (no display)
// every answer is empty and nothing is reported.
class SessionDesktop {
public:
    // Pictures of this computer for the client's device list: the computer itself, and its screen when
    // it stands beside it; either may be absent.
    struct DeviceImage {
        std::optional<Bytes> image;
        std::optional<Bytes> display;
    };
    // A screen's rectangle in the desktop's own coordinates (pixels of the whole desktop).
    struct Area {
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
        bool operator==(const Area&) const = default;
    };
    // Where the pointer is on the described screen, as fractions of its width and height.
    struct PointerFraction {
        double x = 0;
        double y = 0;
    };

    virtual ~SessionDesktop() = default;

    // The screens changed (one was added, removed, moved or resized): the whole new list.
    virtual void setOnDisplaysChanged(std::function<void(std::vector<DisplayInfo>)> handler) = 0;
    // The pointer's picture changed, while cursor reports are on.
    virtual void setOnCursorShape(std::function<void(CursorShape)> handler) = 0;
    // A local application put text or a picture on the clipboard, while the client subscribed.
    virtual void setOnClipboard(std::function<void(ClipboardMessage)> handler) = 0;
    // Files were copied locally, while the client subscribed: the regular files among them.
    virtual void setOnFilesAvailable(std::function<void(std::vector<FileItem>)> handler) = 0;
    // The application shown in app mode quit; the text says so in a short sentence.
    virtual void setOnAppModeEnded(std::function<void(std::string reason)> handler) = 0;

    // Starts watching the screens, the clipboard and the launched application.
    virtual void start(std::shared_ptr<Queue> queue) = 0;
    // Stops everything for good, at the session's end; reports nothing afterwards. Applications it
    // launched keep running, and clipboard content the client sent stays offered until replaced.
    virtual void stop() = 0;

    virtual std::vector<DisplayInfo> displays() = 0;
    // The highest frame rate the client's screen shows (its hello's maxFPS): streams run faster than
    // 60 frames a second only for a client above 119 on a screen of 100 Hz or more. Until it is
    // given, no stream runs faster than 60.
    virtual void setClientMaxFPS(std::int64_t maxFPS) { (void)maxFPS; }
    // The stream the host sends for `request`: the requested screen, else the main one, scaled to fit,
    // at the rate the screen and the client allow. In app mode the application is launched first when
    // asked. Nothing when there is no screen to show.
    virtual std::optional<StreamDescription> describe(const StreamRequest& request) = 0;
    // The rectangle of the screen of the last described stream, where input is played back.
    virtual std::optional<Area> describedArea() = 0;
    // Cursor pictures are reported only while a stream is described and the client draws the cursor.
    virtual void setCursorReports(bool on) = 0;

    // A JPEG of the main screen whose bytes number at most `maxBytes`, smaller or coarser as needed;
    // nothing when none fits or no picture can be taken.
    virtual void glimpse(std::size_t maxBytes, std::function<void(std::optional<Bytes>)> completion) = 0;
    // A clipboard message from the client: subscribe or unsubscribe, or content to offer locally.
    virtual void receiveClipboard(const ClipboardMessage& message) = 0;
    // The file offered to the client under `id`, when it is still on the latest list of copied files.
    virtual std::optional<std::filesystem::path> offeredFile(std::uint32_t id) = 0;

    // Applications with windows open now, and every installed one (in name order), with icons.
    virtual void runningApps(std::function<void(std::vector<AppInfo>)> completion) = 0;
    virtual void installedApps(std::function<void(std::vector<AppInfo>)> completion) = 0;
    virtual void deviceImage(std::function<void(DeviceImage)> completion) = 0;
};

} // namespace velm
