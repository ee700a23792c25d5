#include "platform/dispatch/SignalSource.h"
#include "tests/support/Blocking.h"
#include "tests/support/Gate.h"

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace velm {
namespace {

// SIGWINCH stands in for SIGTERM: the same path, but one that goes unreported is ignored, not fatal.
TEST(SignalSource, ASignalRightAfterStartIsReportedEvenWhileThePoolIsBusy) {
    // Both threads of the shared pool held, as when the program is busy starting up.
    // Shared with the held work, which may still be leaving the gate when the test ends.
    const auto release = std::make_shared<Gate>();
    const auto holding = std::make_shared<std::atomic<int>>(0);
    const auto opened = std::shared_ptr<void>(nullptr, [release](void*) { release->open(); });
    std::vector<std::shared_ptr<Queue>> busy{Queue::make("velm.test.busy1"), Queue::make("velm.test.busy2")};
    for (const auto& queue : busy) {
        queue->post([release, holding] {
            ++*holding;
            release->wait();
        });
    }
    ASSERT_TRUE(Blocking::waitUntil([&] { return *holding == 2; }));

    auto queue = Queue::make("velm.test.signals");
    std::atomic<int> reported{0};
    const auto source = SignalSource::make({SIGWINCH}, queue);
    source->setOnSignal([&](int number) {
        if (number == SIGWINCH) {
            ++reported;
        }
    });
    source->start();
    std::raise(SIGWINCH);
    release->open();
    EXPECT_TRUE(Blocking::waitUntil([&] { return reported == 1; })) << "the signal was lost";
    std::raise(SIGWINCH);
    EXPECT_TRUE(Blocking::waitUntil([&] { return reported == 2; })) << "a second signal was lost";
    ASSERT_TRUE(Blocking::drain(*queue));
}

} // namespace
} // namespace velm
