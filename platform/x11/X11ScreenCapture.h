#pragma once

#include "platform/display/ScreenCapture.h"

#include <memory>
#include <mutex>

namespace velm {

class X11Connection;

// Reads the root window through the MIT-SHM extension, into a shared segment kept for the next
// read of the same size, or with plain XGetImage when the server cannot share memory with us
// (another machine, another IPC namespace). Calls from several threads wait for each other.
class X11ScreenCapture final : public ScreenCapture {
public:
    X11ScreenCapture();
    ~X11ScreenCapture() override;

    std::optional<Image> capture(const ScreenRect& rect) override;

    // True while reads go through shared memory.
    bool usesSharedMemory() const;

private:
    struct SharedImage;

    std::optional<Image> captureShared(const ScreenRect& rect);
    std::optional<Image> capturePlain(const ScreenRect& rect);

    mutable std::mutex lock;
    std::unique_ptr<X11Connection> connection_;
    bool sharedMemory_ = false;
    std::unique_ptr<SharedImage> shared_;
};

} // namespace velm
