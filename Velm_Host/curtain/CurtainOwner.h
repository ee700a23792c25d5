#pragma once

#include "Velm_Host/curtain/Curtain.h"
#include "Velm_Host/session/SessionCurtain.h"

#include <memory>

namespace velm {

// One session's hold on the process's curtain: the session's identity as its owner. The host model
// makes one for each session it starts; when it goes without its session having ended, a curtain it
// still holds is locked away rather than left up with nobody to own it.
class CurtainOwner final : public SessionCurtain {
public:
    explicit CurtainOwner(std::shared_ptr<Curtain> curtain);
    ~CurtainOwner() override;
    CurtainOwner(const CurtainOwner&) = delete;
    CurtainOwner& operator=(const CurtainOwner&) = delete;

    CurtainState raise(bool force) override;
    CurtainState set(bool on) override;
    void sessionEnded(bool orderly) override;
    bool coversScreens() override;

private:
    const std::shared_ptr<Curtain> curtain_;
    const Curtain::Owner id_;
};

} // namespace velm
