#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Ticker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;

// An owner in the house style: it owns the ticker, and the ticker's callback
// reaches it only through a weak_ptr.
class Owner : public std::enable_shared_from_this<Owner> {
public:
    std::shared_ptr<Ticker> ticker;
    std::shared_ptr<std::vector<std::uint64_t>> seen = std::make_shared<std::vector<std::uint64_t>>();

    void attach(std::shared_ptr<Ticker> t) {
        ticker = std::move(t);
        ticker->onTick = [weak = weak_from_this()](std::uint64_t count) {
            if (auto self = weak.lock()) {
                self->seen->push_back(count);
            }
        };
    }
};

class TickerTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.test.ticker");
    std::shared_ptr<Ticker> ticker = Ticker::make(queue);
    std::shared_ptr<Owner> owner = std::make_shared<Owner>();

    void SetUp() override { owner->attach(ticker); }
};

TEST_F(TickerTest, TicksOncePerInterval) {
    ticker->start(1s);
    queue->advance(3500ms);
    EXPECT_EQ(*owner->seen, (std::vector<std::uint64_t>{1, 2, 3}));
}

TEST_F(TickerTest, RestartDropsTheTicksOfTheOlderStart) {
    ticker->start(1s);
    queue->advance(1500ms);
    ticker->start(10s);
    queue->advance(9s);
    EXPECT_EQ(*owner->seen, (std::vector<std::uint64_t>{1})) << "the 1 s ticks went on after the restart";
    queue->advance(1s);
    EXPECT_EQ(*owner->seen, (std::vector<std::uint64_t>{1, 1}));

    ticker->stop();
    queue->advance(60s);
    EXPECT_EQ(owner->seen->size(), 2u);
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(TickerTest, CallbackDoesNothingOnceItsOwnerIsGone) {
    ticker->start(1s);
    queue->advance(1s);
    auto seen = owner->seen;
    std::weak_ptr<Owner> weakOwner = owner;
    owner.reset(); // the test still holds the ticker, so it keeps ticking
    EXPECT_TRUE(weakOwner.expired()) << "the ticker's callback keeps its owner alive";

    queue->advance(5s);
    EXPECT_EQ(*seen, (std::vector<std::uint64_t>{1}));
}

TEST_F(TickerTest, ATickerThatIsGoneStopsTicking) {
    ticker->start(1s);
    queue->advance(1s);
    std::weak_ptr<Ticker> weakTicker = ticker;
    ticker.reset();
    owner->ticker.reset();
    EXPECT_TRUE(weakTicker.expired()) << "its own scheduled work keeps the ticker alive";

    queue->advance(5s);
    EXPECT_EQ(*owner->seen, (std::vector<std::uint64_t>{1}));
    EXPECT_EQ(queue->pendingCount(), 0u);
}

} // namespace
} // namespace velm
