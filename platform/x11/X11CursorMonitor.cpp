#include "platform/x11/X11CursorMonitor.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/x11/X11EventLoop.h"

#include <X11/extensions/Xfixes.h>
#include <chrono>
#include <future>

namespace velm {
namespace {

constexpr std::chrono::seconds firstReadLimit{5};

struct CursorFree {
    void operator()(XFixesCursorImage* image) const { XFree(image); }
};

// XFixes hands out premultiplied ARGB, one pixel in the low 32 bits of each long.
std::optional<CursorImage> converted(const XFixesCursorImage& cursor) {
    if (cursor.width == 0 || cursor.height == 0 || cursor.width > X11CursorMonitor::maxSide ||
        cursor.height > X11CursorMonitor::maxSide || !cursor.pixels) {
        return std::nullopt;
    }
    CursorImage result;
    result.image = Image{cursor.width, cursor.height, Image::Format::rgba, {}};
    result.hotSpotX = std::min<int>(cursor.xhot, cursor.width - 1);
    result.hotSpotY = std::min<int>(cursor.yhot, cursor.height - 1);
    result.serial = cursor.cursor_serial;
    const std::size_t count = std::size_t(cursor.width) * std::size_t(cursor.height);
    result.image.pixels.reserve(count * Image::bytesPerPixel);
    for (std::size_t index = 0; index < count; ++index) {
        const auto argb = static_cast<std::uint32_t>(cursor.pixels[index]);
        const unsigned alpha = argb >> 24;
        const auto straight = [alpha](unsigned premultiplied) {
            return static_cast<std::uint8_t>(alpha == 0 ? 0 : std::min(255u, premultiplied * 255 / alpha));
        };
        result.image.pixels.insert(result.image.pixels.end(),
                                   {straight(argb >> 16 & 0xFF), straight(argb >> 8 & 0xFF),
                                    straight(argb & 0xFF), static_cast<std::uint8_t>(alpha)});
    }
    return result;
}

} // namespace

std::shared_ptr<X11CursorMonitor> X11CursorMonitor::make(std::shared_ptr<Queue> queue) {
    auto monitor = std::shared_ptr<X11CursorMonitor>(new X11CursorMonitor(std::move(queue)));
    if (!monitor->loop_) {
        return monitor;
    }
    // In place before the server is asked for events, so that none is read and dropped.
    monitor->loop_->setEventHandler(whileAlive(monitor, &X11CursorMonitor::handleEvent));
    // A server that stops answering leaves no picture rather than holding the caller.
    auto read = std::make_shared<std::promise<void>>();
    auto done = read->get_future();
    monitor->loop_->post(whileAlive(monitor, [read](X11CursorMonitor& self, X11Connection& connection) {
        int errorBase = 0;
        int major = 0;
        int minor = 0;
        // XFixes serves a client only once it has said which version it speaks.
        if (XFixesQueryExtension(connection.display(), &self.eventBase_, &errorBase) &&
            XFixesQueryVersion(connection.display(), &major, &minor)) {
            XFixesSelectCursorInput(connection.display(), connection.root(), XFixesDisplayCursorNotifyMask);
            self.readOnLoop(connection);
        }
        read->set_value();
    }));
    done.wait_for(firstReadLimit);
    return monitor;
}

X11CursorMonitor::X11CursorMonitor(std::shared_ptr<Queue> queue)
    : queue_(std::move(queue)), loop_(X11EventLoop::open("velm.x11.cursor")) {}

X11CursorMonitor::~X11CursorMonitor() = default;

std::optional<CursorImage> X11CursorMonitor::current() const {
    std::lock_guard guard(lock);
    return current_;
}

void X11CursorMonitor::setOnChange(ChangeHandler handler) {
    queue_->post(whileAlive(shared_from_this(), [handler = std::move(handler)](X11CursorMonitor& self) {
        self.onChange_ = handler;
    }));
}

void X11CursorMonitor::startWatching() {
    queue_->post(whileAlive(shared_from_this(), [](X11CursorMonitor& self) { self.watching_ = true; }));
}

void X11CursorMonitor::stopWatching() {
    queue_->post(whileAlive(shared_from_this(), [](X11CursorMonitor& self) { self.watching_ = false; }));
}

void X11CursorMonitor::handleEvent(X11Connection& connection, _XEvent& event) {
    if (eventBase_ >= 0 && event.type == eventBase_ + XFixesCursorNotify) {
        readOnLoop(connection);
    }
}

void X11CursorMonitor::readOnLoop(X11Connection& connection) {
    const std::unique_ptr<XFixesCursorImage, CursorFree> cursor(XFixesGetCursorImage(connection.display()));
    if (!cursor) {
        return;
    }
    auto image = converted(*cursor);
    if (!image) {
        return;
    }
    {
        std::lock_guard guard(lock);
        if (current_ && current_->serial == image->serial) {
            return;
        }
        current_ = image;
    }
    queue_->post(whileAlive(shared_from_this(), [image = std::move(*image)](X11CursorMonitor& self) {
        if (self.watching_ && self.onChange_) {
            self.onChange_(image);
        }
    }));
}

} // namespace velm
