#include "platform/dispatch/ManualQueue.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;

class ManualQueueTest : public ::testing::Test {
protected:
    ManualQueue queue{"velm.test.manual"};
    std::vector<std::string> ran;
    Queue::Clock::time_point start = queue.now();

    std::function<void()> record(std::string name) {
        return [this, name] { ran.push_back(name); };
    }
    std::chrono::milliseconds elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(queue.now() - start);
    }
};

TEST_F(ManualQueueTest, NothingRunsUntilDriven) {
    queue.post(record("a"));
    queue.postAfter(1s, record("b"));
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(queue.pendingCount(), 2u);
    EXPECT_EQ(queue.now(), start);
}

TEST_F(ManualQueueTest, AdvanceRunsDueWorkInTimeOrderThenStopsAtTheTarget) {
    queue.postAfter(3s, record("3s"));
    queue.postAfter(1s, record("1s"));
    queue.postAfter(2s, record("2s"));

    queue.advance(1500ms);
    EXPECT_EQ(ran, (std::vector<std::string>{"1s"}));
    EXPECT_EQ(elapsed(), 1500ms);

    queue.advance(2s);
    EXPECT_EQ(ran, (std::vector<std::string>{"1s", "2s", "3s"}));
    EXPECT_EQ(elapsed(), 3500ms);
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST_F(ManualQueueTest, TiesRunInPostOrder) {
    queue.postAfter(1s, record("a"));
    queue.postAfter(1s, record("b"));
    queue.post(record("now-1"));
    queue.postAfter(1s, record("c"));
    queue.postAfter(-5s, record("now-2")); // a negative delay counts as none

    queue.advance(1s);
    EXPECT_EQ(ran, (std::vector<std::string>{"now-1", "now-2", "a", "b", "c"}));
}

TEST_F(ManualQueueTest, WorkSeesItsOwnDueTimeAndMayScheduleMoreWithinTheSameAdvance) {
    std::vector<std::chrono::milliseconds> seenAt;
    queue.postAfter(1s, [&] {
        seenAt.push_back(elapsed());
        queue.post(record("posted at 1s"));
        queue.postAfter(1s, [&] {
            seenAt.push_back(elapsed());
            ran.push_back("posted for 2s");
        });
    });
    queue.postAfter(1500ms, record("1.5s"));

    queue.advance(5s);
    EXPECT_EQ(ran, (std::vector<std::string>{"posted at 1s", "1.5s", "posted for 2s"}));
    EXPECT_EQ(seenAt, (std::vector<std::chrono::milliseconds>{1000ms, 2000ms}));
    EXPECT_EQ(elapsed(), 5s);
}

TEST_F(ManualQueueTest, RunUntilIdleRunsWhatIsDueAndWhatThatPostsButNotTheFuture) {
    queue.post([&] {
        ran.push_back("first");
        queue.post([&] {
            ran.push_back("second");
            queue.post(record("third"));
        });
        queue.postAfter(1ms, record("later"));
    });

    queue.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(queue.now(), start);
    EXPECT_EQ(queue.pendingCount(), 1u);

    queue.advance(1ms);
    EXPECT_EQ(ran.back(), "later");
}

TEST_F(ManualQueueTest, CancelledWorkNeverRunsAndIsDroppedAtOnce) {
    auto token = std::make_shared<int>(0);
    WorkItem early = queue.postAfter(1s, [token, this] { ran.push_back("early"); });
    WorkItem tie = queue.postAfter(2s, record("tie"));
    queue.postAfter(2s, [&] { ran.push_back("canceller"); });
    queue.postAfter(1500ms, [&] { tie.cancel(); }); // cancelled from the queue's own work

    early.cancel();
    EXPECT_TRUE(early.isCancelled());
    EXPECT_EQ(token.use_count(), 1) << "the cancelled work still holds what it captured";
    EXPECT_EQ(queue.pendingCount(), 3u);

    queue.advance(3s);
    EXPECT_EQ(ran, (std::vector<std::string>{"canceller"}));
    EXPECT_TRUE(tie.isCancelled());
}

TEST(ManualQueueLifetime, PendingWorkDiesWithTheQueueAndLateCancelsAreHarmless) {
    auto token = std::make_shared<int>(0);
    WorkItem done, orphan, nothing;
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
    nothing.cancel();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(done.isCancelled()) << "cancel is recorded even after the work ran";
    EXPECT_FALSE(nothing.isCancelled());
}

TEST_F(ManualQueueTest, IsCurrentOnlyInsideItsOwnWork) {
    ManualQueue other;
    bool insideOwn = false, otherInsideOwn = true;
    queue.post([&] {
        insideOwn = queue.isCurrent();
        otherInsideOwn = other.isCurrent();
    });
    EXPECT_FALSE(queue.isCurrent());
    queue.runUntilIdle();
    EXPECT_TRUE(insideOwn);
    EXPECT_FALSE(otherInsideOwn);
    EXPECT_FALSE(queue.isCurrent());
}

TEST_F(ManualQueueTest, ThrowingWorkIsLoggedAndTheRestStillRuns) {
    LogCapture log;
    queue.post([] { throw std::runtime_error("boom"); });
    queue.post([] { throw 42; });
    queue.post(record("after"));
    queue.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"after"}));
    EXPECT_TRUE(log.contains("work on velm.test.manual threw: boom"));
    EXPECT_TRUE(log.contains("non-standard exception"));
}

TEST_F(ManualQueueTest, DrivingTheQueueFromItsOwnWorkIsRefused) {
    LogCapture log;
    queue.post([&] { queue.runUntilIdle(); });
    queue.post(record("after"));
    queue.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"after"}));
    EXPECT_TRUE(log.contains("driven from its own work"));
}

TEST_F(ManualQueueTest, WorkThatRepostsItselfForeverIsStopped) {
    std::function<void()> again = [&] { queue.post(again); };
    queue.post(again);
    EXPECT_THROW(queue.runUntilIdle(), std::runtime_error);
}

TEST_F(ManualQueueTest, HugeDelaysSaturateInsteadOfOverflowing) {
    queue.postAfter(Queue::Clock::duration::max(), record("end of time"));
    queue.advance(std::chrono::hours(24 * 365 * 100));
    EXPECT_TRUE(ran.empty());
    queue.advance(Queue::Clock::duration::max());
    EXPECT_EQ(ran, (std::vector<std::string>{"end of time"}));
    EXPECT_EQ(queue.now(), Queue::Clock::time_point::max());
}

} // namespace
} // namespace velm
