#pragma once

#include "Velm_Host/session/SessionDesktop.h"
#include "platform/dispatch/Queue.h"

#include <map>
#include <utility>

namespace velm::test {

// A desktop with fixed answers for sessions under test. It answers through the queue given to start,
// as the real one does, and records what the session asked of it. Used from the session's queue only.
class FakeSessionDesktop final : public SessionDesktop {
public:
    // The answers.
    std::vector<DisplayInfo> screens{{.id = 7,
                                      .name = "Test screen",
                                      .pixelWidth = 1920,
                                      .pixelHeight = 1080,
                                      .pointWidth = 1920,
                                      .pointHeight = 1080,
                                      .isMain = true}};
    std::optional<StreamDescription> description = [] {
        StreamDescription made;
        made.displayID = 7;
        made.pixelWidth = 1920;
        made.pixelHeight = 1080;
        made.fps = 60;
        made.bitrate = 20'000'000;
        return made;
    }();
    Area area{.x = 0, .y = 0, .width = 1920, .height = 1080};
    PointerFraction pointer{.x = 0.25, .y = 0.75};
    std::optional<Bytes> picture{Bytes{0xFF, 0xD8, 0xFF, 0xD9}};
    std::map<std::uint32_t, std::filesystem::path> offered;
    std::vector<AppInfo> running;
    std::vector<AppInfo> installed;

    // What the session did.
    bool started = false;
    bool stopped = false;
    std::optional<std::size_t> glimpseBudget;
    std::vector<ClipboardMessage> clipboard;

    void setOnDisplaysChanged(std::function<void(std::vector<DisplayInfo>)>) override {}
    void setOnCursorShape(std::function<void(CursorShape)>) override {}
    void setOnClipboard(std::function<void(ClipboardMessage)>) override {}
    void setOnFilesAvailable(std::function<void(std::vector<FileItem>)>) override {}
    void setOnAppModeEnded(std::function<void(std::string)>) override {}

    void start(std::shared_ptr<Queue> queue) override {
        started = true;
        queue_ = std::move(queue);
    }
    void stop() override {
        stopped = true;
        queue_.reset();
    }

    std::vector<DisplayInfo> displays() override { return screens; }
    std::optional<StreamDescription> describe(const StreamRequest&) override { return description; }
    std::optional<Area> describedArea() override { return area; }
    std::optional<PointerFraction> pointerPosition() override { return pointer; }
    void setCursorReports(bool) override {}

    void glimpse(std::size_t maxBytes, std::function<void(std::optional<Bytes>)> completion) override {
        glimpseBudget = maxBytes;
        answer(std::move(completion), picture);
    }
    void receiveClipboard(const ClipboardMessage& message) override { clipboard.push_back(message); }
    std::optional<std::filesystem::path> offeredFile(std::uint32_t id) override {
        const auto found = offered.find(id);
        return found == offered.end() ? std::nullopt : std::optional(found->second);
    }

    void runningApps(std::function<void(std::vector<AppInfo>)> completion) override {
        answer(std::move(completion), running);
    }
    void installedApps(std::function<void(std::vector<AppInfo>)> completion) override {
        answer(std::move(completion), installed);
    }
    void deviceImage(std::function<void(DeviceImage)> completion) override {
        answer(std::move(completion), DeviceImage{.image = Bytes{1}, .display = std::nullopt});
    }

private:
    template <typename Value> void answer(std::function<void(Value)> completion, Value value) {
        queue_->post([completion = std::move(completion), value = std::move(value)] { completion(value); });
    }

    std::shared_ptr<Queue> queue_;
};

} // namespace velm::test
