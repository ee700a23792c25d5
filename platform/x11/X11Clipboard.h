#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/display/Clipboard.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

union _XEvent;

namespace velm {

class X11Connection;
class X11EventLoop;

// The X CLIPBOARD selection, on a connection and thread of its own. Text travels as UTF8_STRING,
// pictures as image/png, copied files arrive as text/uri-list or x-special/gnome-copied-files.
// What `put` offers is answered to every SelectionRequest, large data with the INCR protocol;
// changes by other clients are noticed through XFixes and read, one at a time, within
// `readTimeout` and the limits below.
class X11Clipboard final : public Clipboard, public std::enable_shared_from_this<X11Clipboard> {
public:
    struct Limits {
        std::size_t textBytes = 1'000'000;
        std::size_t pngBytes = 3'000'000;
        // uri lists and target lists
        std::size_t listBytes = 64 * 1024;
    };

    static constexpr std::chrono::seconds readTimeout{1};
    // Transfers of large data to slow readers at one time; the oldest gives way.
    static constexpr std::size_t maxTransfers = 8;

    // Without a desktop nothing is reported and nothing is offered.
    static std::shared_ptr<X11Clipboard> make(std::shared_ptr<Queue> queue, Limits limits);
    static std::shared_ptr<X11Clipboard> make(std::shared_ptr<Queue> queue) {
        return make(std::move(queue), {});
    }
    ~X11Clipboard() override;

    void setOnLocalChange(ContentHandler handler) override;
    void setOnReadFailure(FailureHandler handler) override;
    void startWatching() override;
    void stopWatching() override;
    void put(ClipboardContent content) override;

private:
    struct XSide;

    explicit X11Clipboard(std::shared_ptr<Queue> queue);

    void armTimeout(std::uint64_t read);
    void finishRead(std::uint64_t read, std::uint64_t offered, std::optional<ClipboardContent> content,
                    std::optional<ClipboardReadFailure> failure);

    const std::shared_ptr<Queue> queue_;
    std::unique_ptr<X11EventLoop> loop_;
    // Lives on the loop's thread: everything X.
    std::shared_ptr<XSide> xSide_;
    // Touched only on queue_.
    ContentHandler onLocalChange_;
    FailureHandler onReadFailure_;
    std::optional<ClipboardContent> lastPut_;
    std::uint64_t timedRead_ = 0;
    WorkItem timeout_;
};

} // namespace velm
