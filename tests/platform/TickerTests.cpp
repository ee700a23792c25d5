#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Ticker.h"

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Counts = std::vector<std::uint64_t>;

// An owner in the house style: the ticker's callback reaches it only weakly.
class Owner : public std::enable_shared_from_this<Owner> {
public:
    std::shared_ptr<Counts> seen = std::make_shared<Counts>();

    void attach(Ticker& ticker) {
        ticker.setOnTick(whileAlive(weak_from_this(),
                                    [](Owner& self, std::uint64_t count) { self.seen->push_back(count); }));
    }
};

class TickerTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.test.ticker");
    std::shared_ptr<Ticker> ticker = Ticker::make(queue);
    std::shared_ptr<Owner> owner = std::make_shared<Owner>();
    std::shared_ptr<Counts> seen = owner->seen;

    void SetUp() override { owner->attach(*ticker); }
};

TEST_F(TickerTest, RestartAndStopDropTheTicksOfTheOlderStart) {
    ticker->start(1s);
    queue->advance(2500ms);
    EXPECT_EQ(*seen, (Counts{1, 2}));

    ticker->start(10s);
    queue->advance(9s);
    EXPECT_EQ(*seen, (Counts{1, 2})) << "the 1 s ticks went on after the restart";
    queue->advance(1s);
    EXPECT_EQ(*seen, (Counts{1, 2, 1}));

    ticker->stop();
    queue->advance(60s);
    EXPECT_EQ(seen->size(), 3u);
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(TickerTest, NeitherKeepsTheOtherAliveAndNothingHappensOnceEitherIsGone) {
    ticker->start(1s);
    queue->advance(1s);

    std::weak_ptr<Owner> weakOwner = owner;
    owner.reset();
    EXPECT_TRUE(weakOwner.expired()) << "the ticker's callback keeps its owner alive";
    queue->advance(2s); // ticks reach a callback whose owner is gone

    std::weak_ptr<Ticker> weakTicker = ticker;
    ticker.reset();
    EXPECT_TRUE(weakTicker.expired()) << "its own scheduled work keeps the ticker alive";
    queue->advance(2s);

    EXPECT_EQ(*seen, (Counts{1}));
    EXPECT_EQ(queue->pendingCount(), 0u);
}

} // namespace
} // namespace velm
