#include "platform/x11/X11CursorMonitor.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/x11/X11EventLoop.h"

#include <X11/extensions/Xfixes.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <future>

namespace velm {
namespace {

constexpr std::chrono::seconds firstReadLimit{5};

struct CursorFree {
    void operator()(XFixesCursorImage* image) const { XFree(image); }
};

// A side of the kept picture: the pointer's own, or scaled with the longer side down to `maxSide`.
int keptSide(int side, int longer) {
    if (longer <= X11CursorMonitor::maxSide) {
        return side;
    }
    return std::max(
        1, static_cast<int>((static_cast<long>(side) * X11CursorMonitor::maxSide + longer / 2) / longer));
}

// The pointer's columns (or rows) [first, last) that the kept picture's column (or row) `index` covers.
std::pair<int, int> span(int index, int kept, int shown) {
    const auto first = static_cast<int>(static_cast<long>(index) * shown / kept);
    const auto last = static_cast<int>(static_cast<long>(index + 1) * shown / kept);
    return {first, std::max(last, first + 1)};
}

// XFixes hands out premultiplied ARGB, one pixel in the low 32 bits of each long. A kept pixel is the mean
// of the pointer's pixels it covers, taken while still premultiplied so that see-through pixels lend no
// colour to their neighbours, then made straight rgba.
std::array<std::uint8_t, 4> keptPixel(const XFixesCursorImage& cursor, std::pair<int, int> columns,
                                      std::pair<int, int> rows) {
    // Alpha, red, green, blue.
    std::array<std::uint64_t, 4> sums{};
    for (int row = rows.first; row < rows.second; ++row) {
        for (int column = columns.first; column < columns.second; ++column) {
            const auto argb = static_cast<std::uint32_t>(
                cursor.pixels[std::size_t(row) * std::size_t(cursor.width) + std::size_t(column)]);
            for (std::size_t channel = 0; channel < 4; ++channel) {
                sums[channel] += argb >> (24 - 8 * channel) & 0xFF;
            }
        }
    }
    const auto count = static_cast<std::uint64_t>(rows.second - rows.first) *
                       static_cast<std::uint64_t>(columns.second - columns.first);
    const auto mean = [&](std::size_t channel) {
        return static_cast<unsigned>((sums[channel] + count / 2) / count);
    };
    const unsigned alpha = mean(0);
    const auto straight = [alpha](unsigned premultiplied) {
        return static_cast<std::uint8_t>(alpha == 0 ? 0 : std::min(255u, premultiplied * 255 / alpha));
    };
    return {straight(mean(1)), straight(mean(2)), straight(mean(3)), static_cast<std::uint8_t>(alpha)};
}

// The pointer as kept: its own pixels, or one picture pixel for each group of them when it is too large.
std::optional<CursorImage> converted(const XFixesCursorImage& cursor) {
    if (cursor.width == 0 || cursor.height == 0 || !cursor.pixels) {
        return std::nullopt;
    }
    CursorImage result;
    result.shownWidth = cursor.width;
    result.shownHeight = cursor.height;
    const int longer = std::max(result.shownWidth, result.shownHeight);
    Image& image = result.image;
    image = Image{keptSide(cursor.width, longer), keptSide(cursor.height, longer), Image::Format::rgba, {}};
    result.shownHotSpotX = std::min<int>(cursor.xhot, cursor.width - 1);
    result.shownHotSpotY = std::min<int>(cursor.yhot, cursor.height - 1);
    result.hotSpotX = static_cast<int>(static_cast<long>(result.shownHotSpotX) * image.width / cursor.width);
    result.hotSpotY =
        static_cast<int>(static_cast<long>(result.shownHotSpotY) * image.height / cursor.height);
    result.serial = cursor.cursor_serial;
    image.pixels.reserve(std::size_t(image.width) * std::size_t(image.height) * Image::bytesPerPixel);
    for (int y = 0; y < image.height; ++y) {
        const auto rows = span(y, image.height, cursor.height);
        for (int x = 0; x < image.width; ++x) {
            const auto pixel = keptPixel(cursor, span(x, image.width, cursor.width), rows);
            image.pixels.insert(image.pixels.end(), pixel.begin(), pixel.end());
        }
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
