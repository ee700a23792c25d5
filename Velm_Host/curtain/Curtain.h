#pragma once

#include "Velm_Host/curtain/CurtainTap.h"
#include "platform/dbus/ScreenLock.h"
#include "platform/dispatch/BootClock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/display/Monitor.h"
#include "platform/display/ScreenList.h"
#include "platform/display/ShieldWindows.h"
#include "protocol/CurtainState.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// The process's one curtain. While a client drives this computer from elsewhere, whoever sits in front
// of it neither sees what happens nor interferes: every physical screen is covered by a shield, the
// computer's own keyboards and pointers are stopped (the host's injected input still passes), and when
// the session that raised it ends the computer is locked: at once after an orderly end, or when nobody
// came back within `reconnectWait` after a dropped connection. Keyboards and pointers that cannot be
// stopped keep working, logged as an error, under a curtain that stays up: its shields are what keeps
// the remote user's work private.
//
// The session that raised or took over the curtain owns it (`Owner`, one per session). Calls may come
// from any thread: the state sits behind `lock` and each call answers with the state it left. The
// wait for the screen lock's answer and the reports of the screens run on the curtain's queue; the
// wait for a reconnect is on the boot clock, so a computer that slept through it locks on waking.
class Curtain : public std::enable_shared_from_this<Curtain> {
public:
    using Owner = std::uint64_t;

    // A dropped connection keeps the curtain up this long for the client to come back.
    static constexpr std::chrono::seconds reconnectWait{180};
    // The curtain comes down this long after asking for the lock, also when no locker answered.
    static constexpr std::chrono::seconds lockWait{10};
    static constexpr const char* label = "This computer is being used remotely.";

    struct Parts {
        std::shared_ptr<ScreenList> screens;
        std::shared_ptr<ShieldWindows> shields;
        std::shared_ptr<CurtainTap> tap;
        std::shared_ptr<ScreenLock> screenLock;
        // Counts the wait for a reconnect, which goes on while the computer sleeps.
        std::shared_ptr<BootClock> bootClock;
    };

    // The host model makes the one of the process at its start (X11Curtain::forDesktop) and keeps it for
    // its whole life (a dropped session's pending lock lives in it), giving each session a CurtainOwner of
    // it.
    static std::shared_ptr<Curtain> make(Parts parts, std::shared_ptr<Queue> queue);

    // The screens a curtain covers: all but the host's own virtual display and other virtual or unknown
    // ones (built in, or an EDID vendor other than 0 and the virtual display's, or no EDID at all), in
    // their order.
    static std::vector<Monitor> screensToCover(const std::vector<Monitor>& monitors);

    ~Curtain();
    Curtain(const Curtain&) = delete;
    Curtain& operator=(const Curtain&) = delete;

    // A new identity for a session.
    Owner newOwner();

    // At a session's start: takes over a curtain that is up, and raises one when `force` (the device's
    // policy asks for it).
    CurtainState raise(Owner owner, bool force);
    // The client's request: raises the curtain for `owner`, or lowers it when `owner` holds it.
    CurtainState set(Owner owner, bool on);
    // `owner`'s session ended: when it holds the curtain, an orderly end locks the computer and then
    // lowers the curtain; a dropped connection leaves it up for `reconnectWait`, then does the same.
    void sessionEnded(Owner owner, bool orderly);
    // `owner` is gone without its session's end: a curtain it still holds is locked away now.
    void ownerGone(Owner owner);
    // When the curtain is up: locks the computer, logging `reason`, then lowers the curtain. `done` runs
    // on the curtain's queue once the curtain is down or a session took it over (at once when it was not
    // up).
    void lowerAndLock(std::string reason, std::function<void()> done = {});

    // Whether shields cover the screens now, whoever owns them.
    bool isUp() const;

private:
    Curtain(Parts parts, std::shared_ptr<Queue> queue);

    void watch();
    CurtainState stateFor(Owner owner) const;
    void raiseNow(Owner owner);
    void lower();
    void takeDown();
    void lowerAndLockNow(const std::string& reason, std::function<void()> done);
    void cancelLowering();
    void cancelLocking();
    void loweringDue(std::uint64_t lowering);
    void lockAnswered(std::uint64_t locking, std::optional<ScreenLock::Result> result);
    void screensChanged(const std::vector<Monitor>& monitors);

    const Parts parts_;
    const std::shared_ptr<Queue> queue_;

    mutable std::mutex lock;
    bool isUp_ = false;
    std::optional<Owner> owner_;
    Owner lastOwner_ = 0;
    // The pending lock after a dropped connection, numbered so that one cancelled while already due
    // does nothing; 0 for none.
    std::uint64_t lowering_ = 0;
    WorkItem loweringTimer_;
    // The lock asked for before lowering, numbered likewise; 0 for none.
    std::uint64_t locking_ = 0;
    WorkItem lockTimer_;
    std::vector<std::function<void()>> lockedAndDown_;
    std::uint64_t lastNumber_ = 0;
};

} // namespace velm
