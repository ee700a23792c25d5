#include "platform/x11/X11ScreenCapture.h"

#include "platform/log/Log.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <algorithm>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace velm {
namespace {

const Log x11ScreenCaptureLog("x11");

// The one pixel layout we read: 32 bits, little-endian, red in the third byte, which is bgrx in
// memory. Every true-colour visual of a Linux X server has it.
bool isBgrx(const XImage& image) {
    return image.bits_per_pixel == 32 && image.byte_order == LSBFirst && image.red_mask == 0xFF0000 &&
           image.green_mask == 0xFF00 && image.blue_mask == 0xFF && image.bytes_per_line >= image.width * 4;
}

std::optional<Image> copied(const XImage& source) {
    if (!isBgrx(source)) {
        x11ScreenCaptureLog.error("the screen's pixel layout is not one we read (%d bits)",
                                  source.bits_per_pixel);
        return std::nullopt;
    }
    Image image{source.width, source.height, Image::Format::bgrx, {}};
    const std::size_t rowBytes = static_cast<std::size_t>(source.width) * Image::bytesPerPixel;
    image.pixels.resize(rowBytes * static_cast<std::size_t>(source.height));
    for (int row = 0; row < source.height; ++row) {
        std::memcpy(image.pixels.data() + rowBytes * static_cast<std::size_t>(row),
                    source.data + static_cast<std::ptrdiff_t>(row) * source.bytes_per_line, rowBytes);
    }
    return image;
}

// The part of `rect` that lies on the root window.
std::optional<ScreenRect> onRoot(X11Connection& connection, const ScreenRect& rect) {
    XWindowAttributes root{};
    if (!XGetWindowAttributes(connection.display(), connection.root(), &root)) {
        return std::nullopt;
    }
    const int left = std::max(rect.x, 0);
    const int top = std::max(rect.y, 0);
    const long right = std::min<long>(long(rect.x) + rect.width, root.width);
    const long bottom = std::min<long>(long(rect.y) + rect.height, root.height);
    if (right <= left || bottom <= top) {
        return std::nullopt;
    }
    return ScreenRect{left, top, static_cast<int>(right - left), static_cast<int>(bottom - top)};
}

} // namespace

// A shared-memory image of one size, attached to the server until it is freed.
struct X11ScreenCapture::SharedImage {
    SharedImage(Display* owner, XImage* made) : display(owner), image(made) {}

    ~SharedImage() {
        if (attached) {
            XShmDetach(display, &segment);
            XSync(display, False);
        }
        if (segment.shmaddr) {
            shmdt(segment.shmaddr);
        }
        if (image) {
            // The data is the segment, not memory XDestroyImage may free.
            image->data = nullptr;
            XDestroyImage(image);
        }
    }

    SharedImage(const SharedImage&) = delete;
    SharedImage& operator=(const SharedImage&) = delete;

    static std::unique_ptr<SharedImage> make(X11Connection& connection, int width, int height) {
        Display* display = connection.display();
        const int screen = DefaultScreen(display);
        auto shared = std::make_unique<SharedImage>(display, nullptr);
        shared->image = XShmCreateImage(
            display, DefaultVisual(display, screen), static_cast<unsigned>(DefaultDepth(display, screen)),
            ZPixmap, nullptr, &shared->segment, static_cast<unsigned>(width), static_cast<unsigned>(height));
        if (!shared->image) {
            return nullptr;
        }
        const auto bytes =
            static_cast<std::size_t>(shared->image->bytes_per_line) * static_cast<std::size_t>(height);
        shared->segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (shared->segment.shmid < 0) {
            return nullptr;
        }
        void* address = shmat(shared->segment.shmid, nullptr, 0);
        // Removed at once: the segment then goes away when both sides have detached, even after a crash.
        shmctl(shared->segment.shmid, IPC_RMID, nullptr);
        if (address == reinterpret_cast<void*>(-1)) {
            return nullptr;
        }
        shared->segment.shmaddr = static_cast<char*>(address);
        shared->image->data = shared->segment.shmaddr;
        shared->segment.readOnly = False;
        X11ErrorTrap trap(display);
        XShmAttach(display, &shared->segment);
        shared->attached = !trap.failed();
        return shared->attached ? std::move(shared) : nullptr;
    }

    Display* display;
    XImage* image;
    XShmSegmentInfo segment{};
    bool attached = false;
};

X11ScreenCapture::X11ScreenCapture() : connection_(X11Connection::open()) {
    sharedMemory_ = connection_ && XShmQueryExtension(connection_->display());
}

X11ScreenCapture::~X11ScreenCapture() {
    std::lock_guard guard(lock);
    shared_.reset();
}

bool X11ScreenCapture::usesSharedMemory() const {
    std::lock_guard guard(lock);
    return sharedMemory_;
}

std::optional<Image> X11ScreenCapture::capture(const ScreenRect& rect) {
    std::lock_guard guard(lock);
    if (!connection_ || connection_->isLost()) {
        return std::nullopt;
    }
    const auto area = onRoot(*connection_, rect);
    if (!area) {
        return std::nullopt;
    }
    if (sharedMemory_) {
        if (auto image = captureShared(*area)) {
            return image;
        }
    }
    return capturePlain(*area);
}

std::optional<Image> X11ScreenCapture::captureShared(const ScreenRect& rect) {
    if (!shared_ || shared_->image->width != rect.width || shared_->image->height != rect.height) {
        shared_.reset();
        shared_ = SharedImage::make(*connection_, rect.width, rect.height);
        if (!shared_) {
            x11ScreenCaptureLog.info("the x server shares no memory with us; reading the screen without it");
            sharedMemory_ = false;
            return std::nullopt;
        }
    }
    X11ErrorTrap trap(connection_->display());
    if (!XShmGetImage(connection_->display(), connection_->root(), shared_->image, rect.x, rect.y,
                      AllPlanes) ||
        trap.failed()) {
        return std::nullopt;
    }
    return copied(*shared_->image);
}

std::optional<Image> X11ScreenCapture::capturePlain(const ScreenRect& rect) {
    X11ErrorTrap trap(connection_->display());
    XImage* image =
        XGetImage(connection_->display(), connection_->root(), rect.x, rect.y,
                  static_cast<unsigned>(rect.width), static_cast<unsigned>(rect.height), AllPlanes, ZPixmap);
    if (!image || trap.failed()) {
        if (image) {
            XDestroyImage(image);
        }
        return std::nullopt;
    }
    auto result = copied(*image);
    XDestroyImage(image);
    return result;
}

} // namespace velm
