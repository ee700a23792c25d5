#include "Velm_Host/x11/X11HostDesktop.h"
#include "platform/x11/X11ScreenList.h"
#include "tests/host/model/ModelHarness.h"
#include "tests/support/Blocking.h"
#include "tests/support/IdleSocketCrowd.h"
#include "tests/support/ProcessFootprint.h"
#include "tests/support/Pump.h"
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

// What the host holds is counted as the heap it has in use, so that neither the allocator's spare
// arenas for busy threads nor the crowd's own sockets and thread count: first with every member of the
// crowd held at once, waiting for a handshake (a connection that never authenticates costs no X
// connection, desktop, injector or text-focus monitor), then after a flood of reopenings, all let go.
TEST_F(UnadmittedCrowdTest, AFloodFromManyAddressesKeepsTheHostSmall) {
    if (!ProcessFootprint::measuresMemory) {
        GTEST_SKIP() << "memory is measured in the plain build";
    }
    // A handshake in waiting holds its TLS state and buffers, about 100 KiB.
    constexpr std::size_t perConnection = 160 << 10;
    constexpr std::size_t openings = 4000;
    const auto sources = IdleSocketCrowd::loopbackSources(59);
    constexpr std::size_t perSource = 4;
    const auto held = sources.size() * perSource;
    const auto x11Before = x11Connections();
    const auto before = ProcessFootprint::heapInUseBytes();
    {
        IdleSocketCrowd crowd(port(), sources, perSource, openings);
        // Virtual time stands still, so no handshake times out: the host holds the whole crowd.
        ASSERT_TRUE(host->pumpUntil([&] { return host->sessionsMade >= static_cast<int>(held); }));
        host->queue->runUntilIdle();
        const auto holding = ProcessFootprint::heapInUseBytes();
        EXPECT_LT(holding, before + held * perConnection) << (holding - before) / held << " bytes each";
        EXPECT_EQ(x11Connections(), x11Before);

        // The host takes each connection and lets it go again as the crowd reopens it; virtual time
        // moves on, so that what ended sessions leave for later (the channel's close) is done.
        ASSERT_TRUE(Blocking::waitUntil([&] {
            host->queue->runUntilIdle();
            host->queue->advance(HostSession::cancelDelay);
            return crowd.isSpent();
        }));
    }
    // The crowd is gone: once its last connections are, the host is back to its size before it.
    EXPECT_TRUE(
        test::pumpUntilWithTime(*host->queue, std::chrono::seconds(60),
                                [&] { return ProcessFootprint::heapInUseBytes() < before + perConnection; }))
        << "still in use: " << (ProcessFootprint::heapInUseBytes() - before) << " bytes more than before";
    EXPECT_GT(host->sessionsMade, static_cast<int>(held));
    EXPECT_EQ(x11Connections(), x11Before);
}

} // namespace
} // namespace velm
