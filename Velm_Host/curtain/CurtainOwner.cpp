#include "Velm_Host/curtain/CurtainOwner.h"

namespace velm {

CurtainOwner::CurtainOwner(std::shared_ptr<Curtain> curtain)
    : curtain_(std::move(curtain)), id_(curtain_->newOwner()) {}

CurtainOwner::~CurtainOwner() {
    curtain_->ownerGone(id_);
}

CurtainState CurtainOwner::raise(bool force) {
    return curtain_->raise(id_, force);
}

CurtainState CurtainOwner::set(bool on) {
    return curtain_->set(id_, on);
}

void CurtainOwner::sessionEnded(bool orderly) {
    curtain_->sessionEnded(id_, orderly);
}

bool CurtainOwner::coversScreens() {
    return curtain_->isUp();
}

} // namespace velm
