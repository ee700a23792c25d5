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
    return connection_->pointerPosition();
}

} // namespace velm
