#include "platform/x11/X11PointerLocator.h"

#include "platform/x11/X11Connection.h"

namespace velm {

X11PointerLocator::X11PointerLocator() : connection_(X11Connection::open()) {}

X11PointerLocator::~X11PointerLocator() = default;

std::optional<ScreenPoint> X11PointerLocator::position() {
    std::lock_guard guard(lock);
    if (!connection_ || connection_->isLost()) {
        return std::nullopt;
    }
    Window root = None;
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(connection_->display(), connection_->root(), &root, &child, &rootX, &rootY, &windowX,
                       &windowY, &mask)) {
        return std::nullopt;
    }
    return ScreenPoint{rootX, rootY};
}

} // namespace velm
