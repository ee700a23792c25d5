#pragma once

#include "Velm_Host/session/SessionDesktop.h"
#include "platform/dispatch/Queue.h"

#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace velm::test {

// A desktop with fixed answers for sessions under test, given through the queue of start() as the real
// one gives them, which notes what the session did. Used from the session's queue only.
class FakeSessionDesktop final : public SessionDesktop {
public:
    static StreamDescription fullScreen() {
        StreamDescription made;
        made.displayID = 7;
        made.pixelWidth = 1920;
        made.pixelHeight = 1080;
        return made;
    }

    std::vector<DisplayInfo> screens{{7, "Test screen", 1920, 1080, 1920, 1080, true}};
    std::optional<StreamDescription> description = fullScreen();
    // Of the described screen; nothing once it is gone.
    std::optional<Area> area = Area{.x = 0, .y = 0, .width = 1920, .height = 1080};
    std::optional<Bytes> picture;
    std::map<std::uint32_t, std::filesystem::path> offered;
    // Runs as a session looks up an offered file, before it reads anything of it.
    std::function<void()> onOfferedFile;
    std::vector<AppInfo> installed;
    std::vector<AppInfo> running;
    DeviceImage images;

    bool started = false;
    bool stopped = false;
    std::optional<std::int64_t> clientMaxFPS;
    std::optional<std::size_t> glimpseBudget;
    // How often the running and installed lists and the device images were asked for.
    struct Asks {
        int running = 0;
        int installed = 0;
        int images = 0;
        friend bool operator==(const Asks&, const Asks&) = default;
    } asks;
    // While set, the lists and device images asked for are held back until releaseAnswers().
    bool holdsAnswers = false;

    void setOnDisplaysChanged(std::function<void(std::vector<DisplayInfo>)> handler) override {
        onDisplaysChanged_ = std::move(handler);
    }
    void setOnCursorShape(std::function<void(CursorShape)>) override {}
    void setOnClipboard(std::function<void(ClipboardMessage)>) override {}
    void setOnFilesAvailable(std::function<void(std::vector<FileItem>)>) override {}
    void setOnAppModeEnded(std::function<void(std::string)>) override {}
    void start(std::shared_ptr<Queue> queue) override { started = true, queue_ = std::move(queue); }
    void stop() override { stopped = true, queue_.reset(); }

    std::vector<DisplayInfo> displays() override { return screens; }
    void setClientMaxFPS(std::int64_t maxFPS) override { clientMaxFPS = maxFPS; }
    std::optional<StreamDescription> describe(const StreamRequest&) override { return description; }
    std::optional<Area> describedArea() override { return area; }
    void setCursorReports(bool) override {}
    void glimpse(std::size_t maxBytes, std::function<void(std::optional<Bytes>)> completion) override {
        glimpseBudget = maxBytes;
        answer(std::move(completion), picture);
    }
    void receiveClipboard(const ClipboardMessage&) override {}
    std::optional<std::filesystem::path> offeredFile(std::uint32_t id) override {
        if (onOfferedFile) {
            onOfferedFile();
        }
        return offered.contains(id) ? std::optional(offered.at(id)) : std::nullopt;
    }
    void runningApps(std::function<void(std::vector<AppInfo>)> completion) override {
        ++asks.running;
        answerOrHold(std::move(completion), running);
    }
    void installedApps(std::function<void(std::vector<AppInfo>)> completion) override {
        ++asks.installed;
        answerOrHold(std::move(completion), installed);
    }
    void deviceImage(std::function<void(DeviceImage)> completion) override {
        ++asks.images;
        answerOrHold(std::move(completion), images);
    }

    // Gives the answers held back, and every later one at once.
    void releaseAnswers() {
        holdsAnswers = false;
        for (auto& give : std::exchange(held_, {})) {
            give();
        }
    }

    // The screens changed: `now` is the new list and `described` where the described screen lies now.
    void changeScreens(std::vector<DisplayInfo> now, std::optional<Area> described) {
        screens = now;
        area = described;
        answer(onDisplaysChanged_, std::move(now));
    }

private:
    template <typename Value> void answerOrHold(std::function<void(Value)> completion, Value value) {
        if (holdsAnswers) {
            held_.push_back([this, completion = std::move(completion), value = std::move(value)] {
                answer(completion, value);
            });
        } else {
            answer(std::move(completion), std::move(value));
        }
    }

    template <typename Value> void answer(std::function<void(Value)> completion, Value value) {
        queue_->post([completion = std::move(completion), value = std::move(value)] { completion(value); });
    }

    std::shared_ptr<Queue> queue_;
    std::function<void(std::vector<DisplayInfo>)> onDisplaysChanged_;
    std::vector<std::function<void()>> held_;
};

} // namespace velm::test
