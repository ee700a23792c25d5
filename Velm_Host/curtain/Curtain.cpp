#include "Velm_Host/curtain/Curtain.h"

#include "Velm_Host/core/VirtualDisplayIdentity.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace velm {
namespace {

const Log curtainLog("curtain");

// The vendor number of other virtual displays and of displays that do not say who made them.
constexpr std::uint16_t unknownVendor = 0;

void logLock(std::optional<ScreenLock::Result> result) {
    if (!result) {
        curtainLog.error("the lock is unconfirmed: no answer within %lld s",
                         static_cast<long long>(Curtain::lockWait.count()));
        return;
    }
    switch (*result) {
    case ScreenLock::Result::locked:
        curtainLog.info("the computer is locked");
        break;
    case ScreenLock::Result::unconfirmed:
        curtainLog.error("the lock is unconfirmed: no locker said the screen is locked");
        break;
    case ScreenLock::Result::failed:
        curtainLog.error("can't lock the computer: no screen locker took the request");
        break;
    }
}

} // namespace

std::shared_ptr<Curtain> Curtain::make(Parts parts, std::shared_ptr<Queue> queue) {
    auto curtain = std::shared_ptr<Curtain>(new Curtain(std::move(parts), std::move(queue)));
    curtain->watch();
    return curtain;
}

std::vector<Monitor> Curtain::screensToCover(const std::vector<Monitor>& monitors) {
    std::vector<Monitor> covered;
    std::copy_if(monitors.begin(), monitors.end(), std::back_inserter(covered), [](const Monitor& monitor) {
        return monitor.isBuiltIn || !monitor.vendor ||
               (*monitor.vendor != unknownVendor && *monitor.vendor != VirtualDisplayIdentity::vendor);
    });
    return covered;
}

Curtain::Curtain(Parts parts, std::shared_ptr<Queue> queue)
    : parts_(std::move(parts)), queue_(std::move(queue)) {}

// Never leaves the computer's own input stopped behind it.
Curtain::~Curtain() {
    loweringTimer_.cancel();
    lockTimer_.cancel();
    if (isUp_) {
        takeDown();
    }
}

// Reports on the curtain's queue.
void Curtain::watch() {
    parts_.screens->setOnChange(whileAlive(weak_from_this(), &Curtain::screensChanged));
    parts_.screens->startWatching();
}

Curtain::Owner Curtain::newOwner() {
    std::lock_guard guard(lock);
    return ++lastOwner_;
}

CurtainState Curtain::raise(Owner owner, bool force) {
    std::lock_guard guard(lock);
    if (isUp_ || force) {
        raiseNow(owner);
    }
    return stateFor(owner);
}

CurtainState Curtain::set(Owner owner, bool on) {
    std::lock_guard guard(lock);
    if (on) {
        raiseNow(owner);
    } else if (owner_ == owner) {
        lower();
    }
    return stateFor(owner);
}

void Curtain::sessionEnded(Owner owner, bool orderly) {
    std::lock_guard guard(lock);
    if (!isUp_ || owner_ != owner) {
        return;
    }
    if (orderly) {
        lowerAndLockNow("session ended", {});
        return;
    }
    curtainLog.info("connection dropped: curtain stays up for a reconnect");
    cancelLowering();
    const std::uint64_t lowering = lowering_ = ++lastNumber_;
    loweringTimer_ = parts_.bootClock->postAfter(
        queue_, reconnectWait,
        whileAlive(weak_from_this(), [lowering](Curtain& self) { self.loweringDue(lowering); }));
}

void Curtain::ownerGone(Owner owner) {
    std::lock_guard guard(lock);
    if (isUp_ && owner_ == owner && lowering_ == 0) {
        lowerAndLockNow("session gone", {});
    }
}

void Curtain::lowerAndLock(std::string reason, std::function<void()> done) {
    std::lock_guard guard(lock);
    lowerAndLockNow(reason, std::move(done));
}

bool Curtain::isUp() const {
    std::lock_guard guard(lock);
    return isUp_;
}

CurtainState Curtain::stateFor(Owner owner) const {
    return {.available = !screensToCover(parts_.screens->monitors()).empty(), .on = isUp_ && owner_ == owner};
}

// The owner is recorded even when nothing gets covered.
void Curtain::raiseNow(Owner owner) {
    cancelLowering();
    cancelLocking();
    owner_ = owner;
    if (isUp_) {
        return;
    }
    const auto screens = screensToCover(parts_.screens->monitors());
    if (screens.empty()) {
        curtainLog.info("nothing to cover: no monitor");
        return;
    }
    isUp_ = true;
    parts_.shields->cover(screens);
    // Whatever the tap cannot stop it logs, and the shields stay.
    parts_.tap->start();
    curtainLog.info("curtain up");
}

void Curtain::lower() {
    cancelLowering();
    owner_.reset();
    if (!isUp_) {
        return;
    }
    takeDown();
    curtainLog.info("curtain down");
}

void Curtain::takeDown() {
    isUp_ = false;
    parts_.tap->stop();
    parts_.shields->uncover();
}

// The lock comes first, so the desktop is never shown unlocked; the curtain comes down once the lock
// answered, or after `lockWait` without an answer.
void Curtain::lowerAndLockNow(const std::string& reason, std::function<void()> done) {
    cancelLowering();
    if (!isUp_) {
        if (done) {
            queue_->post(std::move(done));
        }
        return;
    }
    if (done) {
        lockedAndDown_.push_back(std::move(done));
    }
    if (locking_ != 0) {
        return;
    }
    curtainLog.info("locking the computer: %s", reason.c_str());
    owner_.reset();
    const std::uint64_t locking = locking_ = ++lastNumber_;
    parts_.screenLock->lock(
        onQueueWhileAlive(queue_, weak_from_this(), [locking](Curtain& self, ScreenLock::Result result) {
            self.lockAnswered(locking, result);
        }));
    lockTimer_ = queue_->postAfter(lockWait, whileAlive(weak_from_this(), [locking](Curtain& self) {
                                       self.lockAnswered(locking, std::nullopt);
                                   }));
}

void Curtain::cancelLowering() {
    lowering_ = 0;
    loweringTimer_.cancel();
}

// A session took the curtain over while the lock was under way: the lock goes on, the curtain stays.
void Curtain::cancelLocking() {
    if (locking_ == 0) {
        return;
    }
    locking_ = 0;
    lockTimer_.cancel();
    for (auto& done : std::exchange(lockedAndDown_, {})) {
        queue_->post(std::move(done));
    }
}

void Curtain::loweringDue(std::uint64_t lowering) {
    std::lock_guard guard(lock);
    if (lowering_ == lowering) {
        lowering_ = 0;
        lowerAndLockNow("nobody came back", {});
    }
}

void Curtain::lockAnswered(std::uint64_t locking, std::optional<ScreenLock::Result> result) {
    std::vector<std::function<void()>> waiting;
    {
        std::lock_guard guard(lock);
        if (locking_ != locking) {
            return;
        }
        locking_ = 0;
        lockTimer_.cancel();
        logLock(result);
        lower();
        waiting = std::exchange(lockedAndDown_, {});
    }
    for (const auto& done : waiting) {
        done();
    }
}

// Screens that come and go while the curtain is up are covered anew; the curtain stays up even with
// no screen left.
void Curtain::screensChanged(const std::vector<Monitor>& monitors) {
    std::lock_guard guard(lock);
    if (isUp_) {
        parts_.shields->cover(screensToCover(monitors));
    }
}

} // namespace velm
