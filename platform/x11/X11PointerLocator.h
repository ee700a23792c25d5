#pragma once

#include "platform/x11/PointerLocator.h"

#include <memory>
#include <mutex>

namespace velm {

class X11Connection;

// Asks the server with XQueryPointer on a connection of its own; calls from several threads wait
// for each other.
class X11PointerLocator final : public PointerLocator {
public:
    // Without a desktop every position is nothing.
    X11PointerLocator();
    ~X11PointerLocator() override;

    std::optional<ScreenPoint> position() override;

private:
    std::mutex lock;
    std::unique_ptr<X11Connection> connection_;
};

} // namespace velm
