#include "Velm_Host/core/VirtualDisplayIdentity.h"
#include "Velm_Host/curtain/Curtain.h"
#include "Velm_Host/curtain/CurtainOwner.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/host/curtain/FakeCurtainParts.h"
#include "tests/support/LogCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

constexpr CurtainState up{.available = true, .on = true};
constexpr CurtainState notOn{.available = true, .on = false};

using test::FakeCurtainParts;

const Monitor laptopPanel = FakeCurtainParts::screen(1, true, std::nullopt);
const Monitor externalScreen = FakeCurtainParts::screen(2, false, 0x10AC);
const Monitor virtualDisplay = FakeCurtainParts::screen(3, false, VirtualDisplayIdentity::vendor);

// The curtain's rules on virtual time, with fakes for the screens, shields, grab and lock: a panel, an
// external screen and the host's own virtual display, which is never covered.
class CurtainTest : public ::testing::Test {
protected:
    CurtainTest() { fakes.screens->list = {laptopPanel, externalScreen, virtualDisplay}; }

    // Raised for a new owner by a device whose policy asks for it.
    Curtain::Owner raised() {
        const auto owner = curtain->newOwner();
        EXPECT_EQ(curtain->raise(owner, true), up);
        EXPECT_THAT(fakes.take(), ElementsAre("cover 1 2", "hold Xvfb mouse, Xvfb keyboard"));
        return owner;
    }

    void answerLock(ScreenLock::Result result) {
        ASSERT_TRUE(fakes.screenLock->pending);
        std::exchange(fakes.screenLock->pending, nullptr)(result);
        queue->runUntilIdle();
    }

    LogCapture log;
    test::FakeCurtainParts fakes;
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.host.curtain");
    std::shared_ptr<Curtain> curtain = Curtain::make(fakes.parts(), queue);
};

TEST_F(CurtainTest, RaisesOnlyWhenThePolicyAsksAndHoldsAllButTheInjectingDevices) {
    const auto owner = curtain->newOwner();
    EXPECT_EQ(curtain->raise(owner, false), notOn) << "a device without the policy raises nothing";
    EXPECT_TRUE(fakes.take().empty());
    EXPECT_EQ(curtain->raise(owner, true), up);
    EXPECT_THAT(fakes.take(), ElementsAre("cover 1 2", "hold Xvfb mouse, Xvfb keyboard"));
    EXPECT_TRUE(log.contains("curtain up"));

    EXPECT_EQ(curtain->set(curtain->newOwner(), false), notOn) << "only the owner lowers it";
    EXPECT_TRUE(curtain->isUp());
    EXPECT_EQ(curtain->set(owner, false), notOn);
    EXPECT_THAT(fakes.take(), ElementsAre("release", "uncover")) << "lowering by hand does not lock";
}

TEST_F(CurtainTest, ASessionTakesACurtainThatIsUpOverAndTheFormerOwnersEndChangesNothing) {
    const auto first = raised();
    const auto second = curtain->newOwner();
    EXPECT_EQ(curtain->raise(second, false), up);
    EXPECT_EQ(curtain->set(first, false), notOn);
    curtain->sessionEnded(first, true);
    curtain->sessionEnded(first, false);
    queue->advance(Curtain::reconnectWait);
    EXPECT_TRUE(fakes.take().empty());
    EXPECT_EQ(curtain->set(second, true), up);
}

TEST_F(CurtainTest, AnOrderlyEndLocksBeforeTheCurtainComesDown) {
    const auto owner = raised();
    curtain->sessionEnded(owner, true);
    EXPECT_THAT(fakes.take(), ElementsAre("lock"));
    EXPECT_TRUE(curtain->isUp()) << "the desktop is never shown before the lock";
    EXPECT_TRUE(log.contains("locking the computer: session ended"));
    answerLock(ScreenLock::Result::locked);
    EXPECT_THAT(fakes.take(), ElementsAre("release", "uncover"));
    EXPECT_FALSE(curtain->isUp());
}

TEST_F(CurtainTest, ADroppedConnectionKeepsTheCurtainUpForAReconnectThenLocks) {
    curtain->sessionEnded(raised(), false);
    queue->advance(Curtain::reconnectWait - 1s);
    EXPECT_TRUE(fakes.take().empty());
    queue->advance(1s);
    EXPECT_THAT(fakes.take(), ElementsAre("lock"));
    EXPECT_TRUE(log.contains("locking the computer: nobody came back"));
    answerLock(ScreenLock::Result::locked);
    EXPECT_THAT(fakes.take(), ElementsAre("release", "uncover"));
}

// The queue's clock stands still while the computer sleeps; the wait goes on counting.
TEST_F(CurtainTest, TheWaitForAReconnectCountsTheTimeTheComputerSlept) {
    curtain->sessionEnded(raised(), false);
    queue->advance(60s);
    fakes.bootClock->suspend(100s);
    queue->runUntilIdle();
    queue->advance(19s);
    EXPECT_TRUE(fakes.take().empty());
    queue->advance(1s);
    EXPECT_THAT(fakes.take(), ElementsAre("lock"));
    answerLock(ScreenLock::Result::locked);
    fakes.take();

    // Asleep past the whole wait: locked on waking.
    curtain->sessionEnded(raised(), false);
    fakes.bootClock->suspend(8h);
    queue->runUntilIdle();
    EXPECT_THAT(fakes.take(), ElementsAre("lock"));
}

// A session of any device raising within the wait, or while the lock is under way, keeps the curtain.
TEST_F(CurtainTest, ANewSessionKeepsTheCurtainOfOneThatEnded) {
    curtain->sessionEnded(raised(), false);
    queue->advance(100s);
    const auto comeBack = curtain->newOwner();
    EXPECT_EQ(curtain->raise(comeBack, false), up);
    queue->advance(Curtain::reconnectWait);
    EXPECT_TRUE(fakes.take().empty());

    curtain->sessionEnded(comeBack, true);
    EXPECT_EQ(curtain->raise(curtain->newOwner(), false), up);
    answerLock(ScreenLock::Result::unconfirmed);
    EXPECT_THAT(fakes.take(), ElementsAre("lock"));
    EXPECT_TRUE(curtain->isUp());
}

TEST_F(CurtainTest, ALockThatNeverAnswersIsLoggedAndTheCurtainStillComesDown) {
    curtain->sessionEnded(raised(), true);
    queue->advance(Curtain::lockWait - 1s);
    EXPECT_TRUE(curtain->isUp());
    queue->advance(1s);
    EXPECT_THAT(fakes.take(), ElementsAre("lock", "release", "uncover"));
    EXPECT_TRUE(log.contains("the lock is unconfirmed"));
    answerLock(ScreenLock::Result::locked);
    EXPECT_TRUE(fakes.take().empty()) << "a late answer changes nothing";
}

// The shields alone still hide the remote user's work: a curtain whose devices cannot be held stays up,
// says so in the log, and leaves the computer's own input working.
TEST_F(CurtainTest, ACurtainThatCannotStopLocalInputStaysUp) {
    fakes.grab->refuseNext = DeviceGrab::Failure::refused;
    const auto owner = curtain->newOwner();
    EXPECT_EQ(curtain->raise(owner, true), up);
    EXPECT_THAT(fakes.take(), ElementsAre("cover 1 2"));
    EXPECT_TRUE(
        log.contains("curtain: can't stop the computer's own input (a device is held by another application)",
                     Log::Level::error));
    EXPECT_EQ(curtain->set(owner, false), notOn);
    EXPECT_THAT(fakes.take(), ElementsAre("uncover"));
    EXPECT_FALSE(log.contains("the computer's own input is back")) << "it never was stopped";

    // A device that arrives later and cannot be held leaves it up too, also while a reconnect is awaited.
    EXPECT_EQ(curtain->set(owner, true), up);
    fakes.take();
    fakes.grab->onFailed(DeviceGrab::Failure::refused);
    queue->runUntilIdle();
    EXPECT_EQ(curtain->set(owner, true), up);
    curtain->sessionEnded(owner, false);
    fakes.grab->onFailed(DeviceGrab::Failure::refused);
    queue->advance(Curtain::reconnectWait - 1s);
    EXPECT_TRUE(fakes.take().empty());
    EXPECT_TRUE(curtain->isUp());
    queue->advance(1s);
    EXPECT_THAT(fakes.take(), ElementsAre("lock"));
}

// A vendor number of 0 marks another virtual or an unknown display; a built-in panel is covered whatever
// its vendor, and a screen without any EDID is taken for a physical one.
TEST_F(CurtainTest, CoversBuiltInScreensAndThoseOfAKnownVendorOtherThanTheVirtualDisplays) {
    const Monitor unknownVendor = FakeCurtainParts::screen(4, false, 0);
    const Monitor noEdid = FakeCurtainParts::screen(5, false, std::nullopt);
    const Monitor builtInVirtualVendor = FakeCurtainParts::screen(6, true, VirtualDisplayIdentity::vendor);
    const auto covered = Curtain::screensToCover(
        {laptopPanel, unknownVendor, externalScreen, virtualDisplay, noEdid, builtInVirtualVendor});
    std::vector<std::uint32_t> ids;
    for (const Monitor& screen : covered) {
        ids.push_back(screen.id);
    }
    EXPECT_THAT(ids, ElementsAre(1, 2, 5, 6));
}

TEST_F(CurtainTest, WithOnlyTheVirtualDisplayThereIsNothingToCover) {
    fakes.screens->list = {virtualDisplay};
    const auto owner = curtain->newOwner();
    EXPECT_EQ(curtain->raise(owner, true), CurtainState({.available = false, .on = false}));
    EXPECT_TRUE(fakes.take().empty());
    EXPECT_TRUE(log.contains("nothing to cover: no monitor"));
}

TEST_F(CurtainTest, ScreensThatComeAndGoAreCoveredAnewAndNeverLowerTheCurtain) {
    raised();
    fakes.screens->change({externalScreen, virtualDisplay});
    fakes.screens->change({});
    fakes.screens->change({laptopPanel, externalScreen});
    EXPECT_THAT(fakes.take(), ElementsAre("cover 2", "cover", "cover 1 2"));
    EXPECT_TRUE(curtain->isUp());
}

TEST_F(CurtainTest, QuittingLocksWithItsReasonAndSaysWhenTheCurtainIsDown) {
    const auto owner = raised();
    curtain->sessionEnded(owner, false);
    int done = 0;
    curtain->lowerAndLock("Velm Host quit", [&] { ++done; });
    EXPECT_TRUE(log.contains("locking the computer: Velm Host quit"));
    answerLock(ScreenLock::Result::failed);
    EXPECT_EQ(done, 1);
    EXPECT_THAT(fakes.take(), ElementsAre("lock", "release", "uncover"));
    EXPECT_TRUE(log.contains("can't lock the computer"));
    queue->advance(Curtain::reconnectWait);
    EXPECT_TRUE(fakes.take().empty()) << "the quit ended the wait for a reconnect";

    curtain->lowerAndLock("Velm Host quit", [&] { ++done; });
    queue->runUntilIdle();
    EXPECT_EQ(done, 2);
    EXPECT_TRUE(fakes.take().empty()) << "a curtain that is down needs no lock";
}

TEST_F(CurtainTest, ASessionGoneWithoutItsEndLeavesNoCurtainBehind) {
    auto dropped = std::make_unique<CurtainOwner>(curtain);
    EXPECT_EQ(dropped->raise(true), up);
    dropped->sessionEnded(false);
    dropped.reset();
    EXPECT_THAT(fakes.take(), ElementsAre("cover 1 2", "hold Xvfb mouse, Xvfb keyboard"))
        << "a dropped session's curtain waits for the reconnect";

    auto vanished = std::make_unique<CurtainOwner>(curtain);
    EXPECT_EQ(vanished->set(true), up);
    EXPECT_TRUE(vanished->coversScreens());
    vanished.reset();
    EXPECT_THAT(fakes.take(), ElementsAre("lock"));
}

} // namespace
} // namespace velm
