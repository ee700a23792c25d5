#include "platform/x11/X11ShieldWindows.h"

#include "platform/x11/X11EventLoop.h"

#include <X11/Xft/Xft.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <algorithm>
#include <map>

namespace velm {
namespace {

// What the X protocol can carry for a window's place and size.
ScreenRect representable(const ScreenRect& frame) {
    return {std::clamp(frame.x, -32768, 32767), std::clamp(frame.y, -32768, 32767),
            std::clamp(frame.width, 1, 32767), std::clamp(frame.height, 1, 32767)};
}

} // namespace

// What the shields' thread keeps: every Xlib call happens there.
struct X11ShieldWindows::LoopSide {
    struct Shield {
        Window window = None;
        ScreenRect frame;
    };

    std::string label;
    // By the id of the screen each covers.
    std::map<std::uint32_t, Shield> shields;
    bool watchingRoot = false;

    void cover(X11Connection& connection, const std::vector<Monitor>& screens) {
        Display* display = connection.display();
        std::map<std::uint32_t, Shield> covering;
        for (const Monitor& screen : screens) {
            const ScreenRect frame = representable(screen.frame);
            auto found = shields.find(screen.id);
            if (found == shields.end()) {
                covering[screen.id] = Shield{make(connection, frame), frame};
                continue;
            }
            Shield shield = found->second;
            shields.erase(found);
            if (shield.frame != frame) {
                XMoveResizeWindow(display, shield.window, frame.x, frame.y,
                                  static_cast<unsigned>(frame.width), static_cast<unsigned>(frame.height));
                shield.frame = frame;
            }
            covering[screen.id] = shield;
        }
        // What is left covers screens that went away.
        uncover(connection);
        shields = std::move(covering);
        for (const auto& [id, shield] : shields) {
            XRaiseWindow(display, shield.window);
        }
    }

    void uncover(X11Connection& connection) {
        for (const auto& [id, shield] : shields) {
            XDestroyWindow(connection.display(), shield.window);
        }
        shields.clear();
    }

    Window make(X11Connection& connection, const ScreenRect& frame) {
        Display* display = connection.display();
        watchRoot(connection);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
        attributes.event_mask = ExposureMask;
        const Window window =
            XCreateWindow(display, connection.root(), frame.x, frame.y, static_cast<unsigned>(frame.width),
                          static_cast<unsigned>(frame.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
        // No input region at all: the pointer and its clicks fall through to whatever lies below.
        XShapeCombineRectangles(display, window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
        XStoreName(display, window, "velm curtain");
        XClassHint hint{const_cast<char*>("velm-curtain"), const_cast<char*>("Velm")};
        XSetClassHint(display, window, &hint);
        XMapRaised(display, window);
        return window;
    }

    // Every window that appears, moves or changes its place in the stack shows up here.
    void watchRoot(X11Connection& connection) {
        if (!watchingRoot) {
            XSelectInput(connection.display(), connection.root(), SubstructureNotifyMask);
            watchingRoot = true;
        }
    }

    void handle(X11Connection& connection, XEvent& event) {
        switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) {
                draw(connection, event.xexpose.window);
            }
            break;
        case MapNotify:
        case ConfigureNotify:
        case CirculateNotify:
            keepOnTop(connection);
            break;
        default:
            break;
        }
    }

    bool isShield(Window window) const {
        return std::any_of(shields.begin(), shields.end(),
                           [window](const auto& entry) { return entry.second.window == window; });
    }

    // Raises the shields when another window now lies above one of them: one that came up or moved,
    // or any window once another client lowered a shield. Our own raises come here too and find the
    // shields on top.
    void keepOnTop(X11Connection& connection) {
        if (shields.empty()) {
            return;
        }
        Display* display = connection.display();
        Window root = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, connection.root(), &root, &parent, &children, &count)) {
            return;
        }
        // Children come bottom to top: the shields must be the last ones.
        const std::size_t top = std::min<std::size_t>(shields.size(), count);
        const bool onTop =
            top == shields.size() && std::all_of(children + (count - top), children + count,
                                                 [this](Window window) { return isShield(window); });
        if (children) {
            XFree(children);
        }
        if (!onTop) {
            for (const auto& [id, shield] : shields) {
                XRaiseWindow(display, shield.window);
            }
        }
    }

    void draw(X11Connection& connection, Window window) {
        const auto shield = std::find_if(shields.begin(), shields.end(), [window](const auto& entry) {
            return entry.second.window == window;
        });
        if (shield == shields.end()) {
            return;
        }
        Display* display = connection.display();
        const int screen = DefaultScreen(display);
        XftFont* font = XftFontOpen(display, screen, XFT_FAMILY, XftTypeString, "sans-serif", XFT_PIXEL_SIZE,
                                    XftTypeDouble, labelPixelSize, XFT_WEIGHT, XftTypeInteger,
                                    XFT_WEIGHT_MEDIUM, nullptr);
        if (!font) {
            return;
        }
        Visual* visual = DefaultVisual(display, screen);
        const Colormap colormap = DefaultColormap(display, screen);
        XftDraw* drawing = XftDrawCreate(display, window, visual, colormap);
        // White at 55 % over black.
        const XRenderColor grey{0x8C8C, 0x8C8C, 0x8C8C, 0xFFFF};
        XftColor colour{};
        XftColorAllocValue(display, visual, colormap, &grey, &colour);
        const auto* text = reinterpret_cast<const FcChar8*>(label.data());
        const int length = static_cast<int>(label.size());
        XGlyphInfo extents{};
        XftTextExtentsUtf8(display, font, text, length, &extents);
        const ScreenRect& frame = shield->second.frame;
        const int x = (frame.width - extents.xOff) / 2;
        const int y = (frame.height - (font->ascent + font->descent)) / 2 + font->ascent;
        XftDrawStringUtf8(drawing, &colour, font, x, y, text, length);
        XftColorFree(display, visual, colormap, &colour);
        XftDrawDestroy(drawing);
        XftFontClose(display, font);
    }
};

std::shared_ptr<X11ShieldWindows> X11ShieldWindows::make(std::string label) {
    auto side = std::make_shared<LoopSide>();
    side->label = std::move(label);
    auto loop = X11EventLoop::open("velm.curtain.shields");
    if (loop) {
        loop->setEventHandler(
            [side](X11Connection& connection, XEvent& event) { side->handle(connection, event); });
    }
    return std::shared_ptr<X11ShieldWindows>(new X11ShieldWindows(std::move(loop), std::move(side)));
}

X11ShieldWindows::X11ShieldWindows(std::unique_ptr<X11EventLoop> loop, std::shared_ptr<LoopSide> side)
    : loop_(std::move(loop)), side_(std::move(side)) {}

// The connection closes with the loop, and the server takes the windows away with it.
X11ShieldWindows::~X11ShieldWindows() = default;

void X11ShieldWindows::cover(const std::vector<Monitor>& screens) {
    if (loop_) {
        loop_->post([side = side_, screens](X11Connection& connection) { side->cover(connection, screens); });
    }
}

void X11ShieldWindows::uncover() {
    if (loop_) {
        loop_->post([side = side_](X11Connection& connection) { side->uncover(connection); });
    }
}

} // namespace velm
