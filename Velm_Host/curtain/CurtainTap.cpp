#include "Velm_Host/curtain/CurtainTap.h"

#include "input/LocalInputFilter.h"
#include "platform/log/Log.h"

#include <utility>

namespace velm {
namespace {

const Log curtainTapLog("curtain");

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

CurtainTap::CurtainTap(std::shared_ptr<DeviceGrab> grab) : grab_(std::move(grab)) {
    grab_->setOnFailed([](DeviceGrab::Failure failure) {
        curtainTapLog.error("curtain: can't stop the computer's own input (%s)", describe(failure));
    });
}

bool CurtainTap::blocks(const InputDevice& device) {
    using LocalInputFilter::EventType;
    const std::int64_t userData = device.isXtest ? LocalInputFilter::marker : 0;
    const EventType sent =
        device.kind == InputDevice::Kind::keyboard ? EventType::keyDown : EventType::mouseMoved;
    return !LocalInputFilter::shouldPass(sent, userData);
}

bool CurtainTap::start() {
    std::lock_guard guard(lock);
    const auto failure = grab_->start(&CurtainTap::blocks);
    holding_ = !failure;
    if (failure) {
        curtainTapLog.error("curtain: can't stop the computer's own input (%s)", describe(*failure));
        return false;
    }
    curtainTapLog.info("curtain: the computer's own input is stopped");
    return true;
}

// A failed start held nothing, so there is nothing to give back.
void CurtainTap::stop() {
    std::lock_guard guard(lock);
    if (std::exchange(holding_, false)) {
        grab_->stop();
        curtainTapLog.info("curtain: the computer's own input is back");
    }
}

} // namespace velm
