#include "tests/support/X11TestDesktop.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrender.h>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace velm::test {

Display* X11TestDesktop::openDisplay() {
    // The server turns a new client away now and then while it clears closed ones away.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) {
            return display;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

std::unique_ptr<X11TestDesktop> X11TestDesktop::open(std::string& reason) {
    if (!std::getenv("VELM_TEST_X11")) {
        reason = "no sandboxed X server; run under scripts/x11-sandbox.sh (VELM_TEST_X11)";
        return nullptr;
    }
    Display* display = openDisplay();
    if (!display) {
        reason = "the sandboxed X server cannot be reached";
        return nullptr;
    }
    return std::unique_ptr<X11TestDesktop>(new X11TestDesktop(display));
}

X11TestDesktop::~X11TestDesktop() {
    XCloseDisplay(display_);
}

X11TestDesktop::Window X11TestDesktop::root() const {
    return DefaultRootWindow(display_);
}

X11TestDesktop::Atom X11TestDesktop::atom(const char* name) const {
    return XInternAtom(display_, name, False);
}

void X11TestDesktop::movePointer(int x, int y) {
    XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
    XSync(display_, False);
}

ScreenPoint X11TestDesktop::pointerPosition() const {
    Window rootReturn = None;
    Window child = None;
    ScreenPoint point;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    XQueryPointer(display_, root(), &rootReturn, &child, &point.x, &point.y, &windowX, &windowY, &mask);
    return point;
}

void X11TestDesktop::fill(const ScreenRect& rect, std::uint32_t rgb) {
    GC context = XCreateGC(display_, root(), 0, nullptr);
    XSetForeground(display_, context, rgb);
    XFillRectangle(display_, root(), context, rect.x, rect.y, static_cast<unsigned>(rect.width),
                   static_cast<unsigned>(rect.height));
    XFreeGC(display_, context);
    XSync(display_, False);
}

void X11TestDesktop::setRootCursor(unsigned int shape) {
    const Cursor cursor = XCreateFontCursor(display_, shape);
    XDefineCursor(display_, root(), cursor);
    XFreeCursor(display_, cursor);
    XSync(display_, False);
}

void X11TestDesktop::setRootCursor(const Image& picture, int hotSpotX, int hotSpotY) {
    // XRender takes the pointer's pixels premultiplied, one 32-bit ARGB word each in the client's order.
    std::vector<std::uint32_t> argb;
    argb.reserve(picture.pixels.size() / Image::bytesPerPixel);
    for (std::size_t at = 0; at + 3 < picture.pixels.size(); at += Image::bytesPerPixel) {
        const std::uint32_t alpha = picture.pixels[at + 3];
        const auto premultiplied = [alpha](std::uint32_t channel) { return channel * alpha / 255; };
        argb.push_back(alpha << 24 | premultiplied(picture.pixels[at]) << 16 |
                       premultiplied(picture.pixels[at + 1]) << 8 | premultiplied(picture.pixels[at + 2]));
    }
    const auto width = static_cast<unsigned>(picture.width);
    const auto height = static_cast<unsigned>(picture.height);
    const Pixmap pixmap = XCreatePixmap(display_, root(), width, height, 32);
    GC context = XCreateGC(display_, pixmap, 0, nullptr);
    XImage* image = XCreateImage(display_, nullptr, 32, ZPixmap, 0, reinterpret_cast<char*>(argb.data()),
                                 width, height, 32, 0);
    XPutImage(display_, pixmap, context, image, 0, 0, 0, 0, width, height);
    // The pixels belong to `argb`, not to the image.
    image->data = nullptr;
    XDestroyImage(image);
    XFreeGC(display_, context);
    const Picture source = XRenderCreatePicture(
        display_, pixmap, XRenderFindStandardFormat(display_, PictStandardARGB32), 0, nullptr);
    const Cursor cursor = XRenderCreateCursor(display_, source, static_cast<unsigned>(hotSpotX),
                                              static_cast<unsigned>(hotSpotY));
    XDefineCursor(display_, root(), cursor);
    XFreeCursor(display_, cursor);
    XRenderFreePicture(display_, source);
    XFreePixmap(display_, pixmap);
    XSync(display_, False);
}

Window X11TestDesktop::makeWindow(const std::string& wmClass, long pid) {
    const Window window = XCreateSimpleWindow(display_, root(), 0, 0, 64, 64, 0, 0, 0);
    std::string classHint = wmClass + '\0' + wmClass + '\0';
    XChangeProperty(display_, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(classHint.data()),
                    static_cast<int>(classHint.size()));
    XChangeProperty(display_, window, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XMapWindow(display_, window);
    XSync(display_, False);
    return window;
}

void X11TestDesktop::setClientList(const std::vector<Window>& windows) {
    if (windows.empty()) {
        XDeleteProperty(display_, root(), atom("_NET_CLIENT_LIST"));
    } else {
        XChangeProperty(display_, root(), atom("_NET_CLIENT_LIST"), XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(windows.data()),
                        static_cast<int>(windows.size()));
    }
    XSync(display_, False);
}

bool X11TestDesktop::run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace velm::test
