#include "Velm_Host/model/X11HostDesktop.h"
#include "platform/x11/X11ScreenList.h"
#include "tests/host/model/ModelHarness.h"
#include "tests/support/Blocking.h"
#include "tests/support/IdleSocketCrowd.h"
#include "tests/support/ProcessFootprint.h"
#include "tests/support/RawTls.h"
#include "tests/support/X11DesktopTest.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velm {
namespace {

using test::IdleSocketCrowd;
using test::ProcessFootprint;

// The whole host on the sandbox's display, with crowds of connections that never finish a handshake:
// spread over many loopback addresses, so that the listener's share per address does not decide what
// the host makes for them.
class UnadmittedCrowdTest : public test::X11DesktopTest {
protected:
    void SetUp() override {
        X11DesktopTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        host = std::make_unique<test::ModelHarness>(
            X11HostDesktop::make(X11ScreenList::make(queue), queue, nullptr, nullptr));
        host->start();
    }

    std::size_t x11Connections() const { return ProcessFootprint::x11Connections(std::getenv("DISPLAY")); }
    std::uint16_t port() const { return host->model->state().listenerState.port(); }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("desktop");
    std::unique_ptr<test::ModelHarness> host;
};

TEST_F(UnadmittedCrowdTest, ConnectionsThatNeverFinishAHandshakeOpenNoXConnection) {
    constexpr std::size_t crowd = 40;
    const auto sources = IdleSocketCrowd::loopbackSources(crowd / 4);
    const auto before = x11Connections();
    std::vector<std::unique_ptr<test::RawSocket>> idle;
    for (std::size_t i = 0; i < crowd; ++i) {
        idle.push_back(test::RawSocket::connectFrom(sources[i % sources.size()], port()));
        ASSERT_TRUE(idle.back());
    }
    ASSERT_TRUE(host->pumpUntil([&] { return host->sessionsMade >= static_cast<int>(crowd); }));
    EXPECT_EQ(x11Connections(), before);
}

TEST_F(UnadmittedCrowdTest, AFloodFromManyAddressesKeepsTheHostSmall) {
    if (!ProcessFootprint::measuresMemory) {
        GTEST_SKIP() << "memory is measured in the plain build";
    }
    constexpr std::size_t openings = 4000;
    IdleSocketCrowd crowd(port(), IdleSocketCrowd::loopbackSources(59), 4, openings);
    // The host takes each connection and lets it go again as the crowd reopens it; virtual time moves
    // on, so that what ended sessions leave for later (the channel's close) is done.
    ASSERT_TRUE(Blocking::waitUntil([&] {
        host->queue->runUntilIdle();
        host->queue->advance(HostSession::cancelDelay);
        return crowd.isSpent();
    }));
    EXPECT_GT(host->sessionsMade, 0);
    EXPECT_LT(ProcessFootprint::peakResidentBytes(), std::size_t{60} << 20);
}

} // namespace
} // namespace velm
