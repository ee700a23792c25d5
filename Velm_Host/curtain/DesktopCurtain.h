#pragma once

#include "Velm_Host/curtain/Curtain.h"
#include "Velm_Host/model/HostCurtain.h"

#include <memory>

namespace velm {

// The process's one curtain over this computer's screens and input: each session holds it through a
// CurtainOwner of its own.
class DesktopCurtain final : public HostCurtain {
public:
    explicit DesktopCurtain(std::shared_ptr<Curtain> curtain);

    std::shared_ptr<SessionCurtain> sessionCurtain() override;
    void hostQuit(std::string_view reason, std::function<void()> done) override;

private:
    const std::shared_ptr<Curtain> curtain_;
};

} // namespace velm
