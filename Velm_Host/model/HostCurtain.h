#pragma once

#include "Velm_Host/session/SessionCurtain.h"
#include "Velm_Host/session/UnavailableCurtain.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

namespace velm {

// The curtain as the host model sees it: one per process, a SessionCurtain for each session, and
// told when the host quits so that a raised curtain locks the computer first.
class HostCurtain {
public:
    static constexpr std::string_view quitReason = "Velm Host quit";
    // hostQuit's `done` comes within this long, the lock answered or not.
    static constexpr std::chrono::seconds quitLimit{12};

    virtual ~HostCurtain() = default;

    virtual std::shared_ptr<SessionCurtain> sessionCurtain() = 0;
    // A raised curtain locks the computer, giving `reason`, and comes down; then `done` runs, on any
    // thread (at once when the curtain is down).
    virtual void hostQuit(std::string_view reason, std::function<void()> done) = 0;
};

// A host without a curtain.
class NoCurtain final : public HostCurtain {
public:
    std::shared_ptr<SessionCurtain> sessionCurtain() override {
        return std::make_shared<UnavailableCurtain>();
    }
    void hostQuit(std::string_view, std::function<void()> done) override { done(); }
};

} // namespace velm
