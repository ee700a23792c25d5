#include "Velm_Host/curtain/CurtainTap.h"

#include "input/LocalInputFilter.h"
#include "platform/log/Log.h"

namespace velm {
namespace {

const Log log("curtain");

const char* describe(DeviceGrab::Failure failure) {
    switch (failure) {
    case DeviceGrab::Failure::noDesktop:
        return "no desktop";
    case DeviceGrab::Failure::noXInput2:
        return "the x server has no xinput 2";
    case DeviceGrab::Failure::refused:
        return "a device is held by another application";
    case DeviceGrab::Failure::noAnswer:
        return "the x server did not answer";
    }
    return "unknown";
}

} // namespace

CurtainTap::CurtainTap(std::shared_ptr<DeviceGrab> grab) : grab_(std::move(grab)) {}

bool CurtainTap::blocks(const InputDevice& device) {
    using LocalInputFilter::EventType;
    const std::int64_t userData = device.isXtest ? LocalInputFilter::marker : 0;
    const EventType sent =
        device.kind == InputDevice::Kind::keyboard ? EventType::keyDown : EventType::mouseMoved;
    return !LocalInputFilter::shouldPass(sent, userData);
}

void CurtainTap::setOnFailed(std::function<void()> handler) {
    grab_->setOnFailed([handler = std::move(handler)](DeviceGrab::Failure failure) {
        log.error("curtain: can't stop the Mac's own input (%s)", describe(failure));
        if (handler) {
            handler();
        }
    });
}

bool CurtainTap::start() {
    if (const auto failure = grab_->start(&CurtainTap::blocks)) {
        log.error("curtain: can't stop the Mac's own input (%s)", describe(*failure));
        return false;
    }
    log.info("curtain: the Mac's own input is stopped");
    return true;
}

void CurtainTap::stop() {
    grab_->stop();
    log.info("curtain: the Mac's own input is back");
}

} // namespace velm
