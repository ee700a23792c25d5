#include "platform/dispatch/ManualQueue.h"
#include "platform/dispatch/WhileAlive.h"
#include "tests/support/LogCapture.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

class ManualQueueTest : public ::testing::Test {
protected:
    ManualQueue queue{"velm.test.manual"};
    Names ran;
    Queue::Clock::time_point start = queue.now();

    std::function<void()> record(std::string name) {
        return [this, name] { ran.push_back(name); };
    }
    Queue::Clock::duration elapsed() const { return queue.now() - start; }
};

TEST_F(ManualQueueTest, RunUntilIdleRunsOnlyDueWorkAndAdvanceRunsInTimeOrderTiesInPostOrder) {
    queue.postAfter(3s, record("3s"));
    queue.postAfter(1s, record("1s-a"));
    queue.post(record("now-a"));
    queue.postAfter(1s, record("1s-b"));
    queue.postAfter(-5s, record("now-b")); // a negative delay counts as none
    EXPECT_TRUE(ran.empty()) << "work ran before the queue was driven";

    queue.runUntilIdle();
    EXPECT_EQ(std::pair(ran, elapsed()), std::pair(Names{"now-a", "now-b"}, Queue::Clock::duration(0s)));
    queue.advance(1500ms);
    EXPECT_EQ(std::tuple(ran, elapsed(), queue.pendingCount()),
              std::tuple(Names{"now-a", "now-b", "1s-a", "1s-b"}, 1500ms, 1u));
    queue.advance(2s);
    EXPECT_EQ(std::pair(ran.back(), elapsed()), std::pair(std::string("3s"), Queue::Clock::duration(3500ms)));
}

TEST_F(ManualQueueTest, WorkRunsAtItsOwnDueTimeAndWhatItSchedulesRunsWithinTheSameAdvance) {
    std::vector<Queue::Clock::duration> seenAt;
    bool wasCurrent = false;
    queue.postAfter(1s, [&] {
        seenAt.push_back(elapsed());
        wasCurrent = queue.isCurrent();
        queue.post(record("posted at 1s"));
        queue.postAfter(1s, [&] {
            seenAt.push_back(elapsed());
            ran.push_back("posted for 2s");
        });
    });
    queue.postAfter(1500ms, record("1.5s"));

    queue.advance(5s);
    EXPECT_EQ(ran, (Names{"posted at 1s", "1.5s", "posted for 2s"}));
    EXPECT_EQ(seenAt, (std::vector<Queue::Clock::duration>{1s, 2s}));
    EXPECT_EQ(elapsed(), 5s);
    EXPECT_TRUE(wasCurrent);
    EXPECT_FALSE(queue.isCurrent());
}

TEST_F(ManualQueueTest, CancelledWorkNeverRunsAndIsDroppedAtOnce) {
    auto token = std::make_shared<int>(0);
    WorkItem early = queue.postAfter(1s, [token] {});
    WorkItem tie = queue.postAfter(2s, record("tie"));
    queue.postAfter(2s, record("kept"));
    queue.postAfter(1500ms, [&] { tie.cancel(); }); // from the queue's own work

    early.cancel();
    EXPECT_EQ(token.use_count(), 1) << "the cancelled work still holds what it captured";
    EXPECT_EQ(queue.pendingCount(), 3u);
    queue.advance(3s);
    EXPECT_EQ(ran, (Names{"kept"}));
}

TEST(ManualQueueLifetime, PendingWorkDiesWithTheQueueAndLateCancelsAreHarmless) {
    auto token = std::make_shared<int>(0);
    WorkItem done, orphan;
    int runs = 0;
    {
        ManualQueue queue;
        done = queue.postAfter(1s, [&] { ++runs; });
        orphan = queue.postAfter(2s, [&runs, token] { ++runs; });
        queue.advance(1s);
    }
    EXPECT_EQ(token.use_count(), 1) << "work left in a destroyed queue is still held";
    EXPECT_TRUE(orphan.isCancelled());
    done.cancel();
    orphan.cancel();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(done.isCancelled()) << "cancel is recorded even after the work ran";
}

TEST_F(ManualQueueTest, ThrowingWorkAndSelfDrivingWorkAreLoggedAndTheRestStillRuns) {
    LogCapture log;
    queue.post([] { throw std::runtime_error("boom"); });
    queue.post([] { throw 42; });
    queue.post([&] { queue.runUntilIdle(); });
    queue.post(record("after"));
    queue.runUntilIdle();
    EXPECT_EQ(ran, (Names{"after"}));
    EXPECT_TRUE(log.contains("work on velm.test.manual threw: boom"));
    EXPECT_TRUE(log.contains("non-standard exception"));
    EXPECT_TRUE(log.contains("driven from its own work"));
}

TEST_F(ManualQueueTest, WorkThatRepostsItselfForeverIsStopped) {
    std::function<void()> again = [&] { queue.post(again); };
    queue.post(again);
    EXPECT_THROW(queue.runUntilIdle(), std::runtime_error);
}

// Only work that keeps coming due without time moving on is endless: a ticker advanced through a long
// stretch of virtual time runs more often than the limit and still ends.
TEST_F(ManualQueueTest, ATickerAdvancedThroughALongStretchIsNotTakenForRunawayWork) {
    std::size_t ticks = 0;
    std::function<void()> tick = [&] {
        ++ticks;
        queue.postAfter(1ms, tick);
    };
    queue.postAfter(1ms, tick);
    const auto stretch = std::chrono::milliseconds(ManualQueue::runawayLimit + 10);
    EXPECT_NO_THROW(queue.advance(stretch));
    EXPECT_EQ(ticks, ManualQueue::runawayLimit + 10);
    EXPECT_EQ(elapsed(), stretch);
}

TEST_F(ManualQueueTest, HugeDelaysSaturateInsteadOfOverflowing) {
    queue.postAfter(Queue::Clock::duration::max(), record("end of time"));
    queue.advance(std::chrono::hours(24 * 365 * 100));
    EXPECT_TRUE(ran.empty());
    queue.advance(Queue::Clock::duration::max());
    EXPECT_EQ(ran, (Names{"end of time"}));
    EXPECT_EQ(queue.now(), Queue::Clock::time_point::max());
}

TEST(WhileAlive, CallsTheOwnerOnlyWhileItLivesAndPostsWithCopiesOfTheArguments) {
    struct Owner {
        std::vector<std::string> heard;
        void hear(const std::string& word) { heard.push_back(word); }
    };
    const auto queue = std::make_shared<ManualQueue>("velm.test.weak");
    auto owner = std::make_shared<Owner>();
    auto direct = whileAlive(owner, &Owner::hear);
    const auto posted =
        onQueueWhileAlive(queue, owner, [](Owner& self, std::string word) { self.hear(word + "!"); });

    direct(std::string("now"));
    std::string word = "later";
    posted(word);
    word = "changed";
    EXPECT_EQ(owner->heard, Names{"now"});
    queue->runUntilIdle();
    EXPECT_EQ(owner->heard, (Names{"now", "later!"}));

    posted(std::string("too late"));
    const std::weak_ptr<Owner> gone = owner;
    owner.reset();
    EXPECT_TRUE(gone.expired()); // neither callable keeps the owner alive
    direct(std::string("after"));
    queue->runUntilIdle();
}

} // namespace
} // namespace velm
