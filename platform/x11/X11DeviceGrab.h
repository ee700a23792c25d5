#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/display/DeviceGrab.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace velm {

class X11EventLoop;

// Device grabs through XInput 2 (XIGrabDevice) on a connection and thread of their own, new for each
// start. A grabbed device is detached from its master, so its events move no pointer and type into no
// window, while the server's other devices (the XTEST ones, which carry injected input) carry on.
// The grabs belong to the connection: when it closes, also because the process died, the server lets
// every device go and attaches it again, so nobody is ever locked out of their own computer.
class X11DeviceGrab final : public DeviceGrab, public std::enable_shared_from_this<X11DeviceGrab> {
public:
    // How long start waits for the server to answer.
    static constexpr std::chrono::seconds answerLimit{2};

    // `threadName` names the grab's thread; failures are reported on `queue`.
    static std::shared_ptr<X11DeviceGrab> make(std::string threadName, std::shared_ptr<Queue> queue);

    ~X11DeviceGrab() override;
    X11DeviceGrab(const X11DeviceGrab&) = delete;
    X11DeviceGrab& operator=(const X11DeviceGrab&) = delete;

    void setOnFailed(FailureHandler handler) override;
    std::optional<Failure> start(Choice choice) override;
    void stop() override;

private:
    struct LoopSide;

    X11DeviceGrab(std::string threadName, std::shared_ptr<Queue> queue);

    void report(std::uint64_t generation, Failure failure);

    const std::string threadName_;
    const std::shared_ptr<Queue> queue_;

    std::mutex lock;
    std::unique_ptr<X11EventLoop> loop_;
    std::uint64_t generation_ = 0;
    FailureHandler onFailed_;
};

} // namespace velm
