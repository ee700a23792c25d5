#include "Velm_Host/curtain/DesktopCurtain.h"

#include "Velm_Host/curtain/CurtainOwner.h"

#include <string>

namespace velm {

static_assert(Curtain::lockWait < HostCurtain::quitLimit, "the host's quit waits for the lock no longer");

DesktopCurtain::DesktopCurtain(std::shared_ptr<Curtain> curtain) : curtain_(std::move(curtain)) {}

std::shared_ptr<SessionCurtain> DesktopCurtain::sessionCurtain() {
    return std::make_shared<CurtainOwner>(curtain_);
}

void DesktopCurtain::hostQuit(std::string_view reason, std::function<void()> done) {
    curtain_->lowerAndLock(std::string(reason), std::move(done));
}

} // namespace velm
