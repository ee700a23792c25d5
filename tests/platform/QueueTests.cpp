#include "platform/dispatch/Queue.h"
#include "tests/support/Blocking.h"
#include "tests/support/Gate.h"
#include "tests/support/LogCapture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

TEST(SerialQueue, RunsWorkOneAtATimeInPostOrderUnderLoadFromManyThreads) {
    auto queue = Queue::make("velm.test.serial");
    constexpr int posters = 8;
    constexpr int perPoster = 2000;
    std::atomic<bool> inside{false};
    std::atomic<int> overlaps{0};
    std::vector<std::vector<int>> seen(posters); // touched only on the queue

    std::vector<std::thread> threads;
    for (int poster = 0; poster < posters; ++poster) {
        threads.emplace_back([&, poster] {
            for (int i = 0; i < perPoster; ++i) {
                queue->post([&, poster, i] {
                    overlaps += inside.exchange(true) ? 1 : 0;
                    seen[poster].push_back(i);
                    inside = false;
                });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_EQ(overlaps, 0);
    std::vector<int> inOrder(perPoster);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(seen, std::vector<std::vector<int>>(posters, inOrder));
}

TEST(SerialQueue, DelayedWorkRunsInDueOrderNeverBeforeItsDelayAndCancelsFromItsOwnQueue) {
    // A loaded machine can stall the posting work between two postAfter calls, so each due time is known only
    // as a window: the order is checked between items whose windows do not overlap.
    struct Delayed {
        Queue::Clock::time_point earliestDue;
        Queue::Clock::time_point latestDue;
        Queue::Clock::time_point ranAt{};
        int runIndex = -1;
    };
    auto queue = Queue::make("velm.test.timers");
    std::vector<Delayed> items(4); // touched only on the queue
    int runs = 0;
    bool cancelledRan = false;
    Gate done;
    std::atomic<bool> knewItsQueue{false};
    queue->post([&] {
        knewItsQueue = queue->isCurrent();
        // Cancelled from the queue's own work: must neither run nor deadlock.
        queue->postAfter(30ms, [&] { cancelledRan = true; }).cancel();
        const std::chrono::milliseconds delays[] = {60ms, 20ms, 40ms, -1000ms};
        for (std::size_t i = 0; i < items.size(); ++i) {
            const auto delay = std::max(delays[i], 0ms);
            items[i].earliestDue = queue->now() + delay;
            queue->postAfter(delays[i], [&, i] {
                items[i].ranAt = queue->now();
                items[i].runIndex = runs++;
                if (runs == static_cast<int>(items.size())) {
                    done.open();
                }
            });
            items[i].latestDue = queue->now() + delay;
        }
    });
    ASSERT_TRUE(done.wait());
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_FALSE(cancelledRan);
    for (std::size_t a = 0; a < items.size(); ++a) {
        EXPECT_GE(items[a].ranAt, items[a].earliestDue) << "item " << a << " ran before its delay";
        for (std::size_t b = 0; b < items.size(); ++b) {
            if (items[a].latestDue < items[b].earliestDue) {
                EXPECT_LT(items[a].runIndex, items[b].runIndex)
                    << "item " << a << " is due before item " << b;
            }
        }
    }
    EXPECT_TRUE(knewItsQueue);
    EXPECT_FALSE(queue->isCurrent());
}

TEST(SerialQueue, ThrowingWorkIsLoggedAndTheQueueCarriesOn) {
    LogCapture log;
    auto queue = Queue::make("velm.test.throws");
    std::atomic<bool> after{false};
    queue->post([] { throw std::runtime_error("boom"); });
    queue->postAfter(0ms, [] { throw 7; });
    ASSERT_TRUE(Blocking::waitUntil([&] { return log.contains("non-standard"); }));
    queue->post([&] { after = true; });
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_TRUE(after);
    EXPECT_TRUE(log.contains("work on velm.test.throws threw: boom"));
}

TEST(SerialQueue, PendingWorkOutlivesTheLastHandleToItsQueue) {
    Gate release, finished;
    {
        auto queue = Queue::make("velm.test.orphan");
        queue->post([&] { release.wait(); });
        queue->post([&] { finished.open(); });
    }
    release.open();
    EXPECT_TRUE(finished.wait());
}

TEST(WorkItem, CancelBeforeTheTimeComesStopsAndReleasesTheWorkFromAnyThreadAnyNumberOfTimes) {
    auto queue = Queue::make("velm.test.cancel");
    auto token = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    Gate later;
    WorkItem item = queue->postAfter(20ms, [token, &ran] { ran = true; });
    std::vector<std::thread> cancellers;
    for (int i = 0; i < 4; ++i) {
        cancellers.emplace_back([item] { item.cancel(), item.cancel(); });
    }
    for (auto& thread : cancellers) {
        thread.join();
    }
    EXPECT_TRUE(item.isCancelled());
    EXPECT_EQ(token.use_count(), 1) << "the cancelled work still holds what it captured";
    // Timers come due in order: once the later one has run, the earlier one had its chance.
    queue->postAfter(40ms, [&] { later.open(); });
    ASSERT_TRUE(later.wait());
    EXPECT_FALSE(ran);

    WorkItem nothing;
    nothing.cancel();
    EXPECT_FALSE(nothing.isCancelled());
}

TEST(WorkItem, CancelFromAnotherThreadStopsWorkWhoseTimeHasComeButWhichWaitsBehindOther) {
    auto queue = Queue::make("velm.test.held");
    std::atomic<bool> ran{false};
    Gate armed, release, probe;
    WorkItem item;
    queue->post([&] {
        item = queue->postAfter(0ms, [&] { ran = true; });
        armed.open();
        release.wait(); // holds the queue: the item's run can only wait behind this
    });
    ASSERT_TRUE(armed.wait());
    // A timer armed later with the same delay: once it has fired, so has the item's.
    Queue::global()->postAfter(0ms, [&] { probe.open(); });
    ASSERT_TRUE(probe.wait());

    item.cancel();
    release.open();
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_FALSE(ran);
}

TEST(WorkItem, CancelDuringTheRunNeitherStopsNorWaitsForIt) {
    auto queue = Queue::make("velm.test.running");
    Gate started, release, finished;
    WorkItem item = queue->postAfter(0ms, [&] {
        started.open();
        release.wait();
        finished.open();
    });
    ASSERT_TRUE(started.wait());
    item.cancel(); // would hang here if it waited for the work
    release.open();
    EXPECT_TRUE(finished.wait());
}

TEST(WorkItem, EveryUncancelledCallRunsOnceUnderConcurrentCancels) {
    auto queue = Queue::make("velm.test.race");
    constexpr int count = 2000;
    // Shared with the work, which may still run after a failed check has ended the test.
    const auto runs = std::make_shared<std::vector<std::atomic<int>>>(count);
    std::vector<WorkItem> items(count);
    for (int i = 0; i < count; ++i) {
        items[i] = queue->postAfter(std::chrono::microseconds(i % 50), [runs, i] { ++(*runs)[i]; });
    }
    std::thread([&] {
        for (int i = 0; i < count; i += 2) {
            items[i].cancel();
        }
    }).join();
    // Timers that fell due together may run in any order: wait for every uncancelled call itself.
    Blocking::waitUntil([&] {
        for (int i = 1; i < count; i += 2) {
            if ((*runs)[i] == 0) {
                return false;
            }
        }
        return true;
    });
    ASSERT_TRUE(Blocking::drain(*queue));
    for (int i = 0; i < count; ++i) {
        // A cancelled call may have started before its cancel came; none runs twice.
        ASSERT_LE((*runs)[i], 1) << i;
        ASSERT_TRUE(i % 2 == 0 || (*runs)[i] == 1) << i;
    }
}

TEST(SerialQueue, DelaysBeyondTheClocksRangeDoNotOverflow) {
    auto queue = Queue::make("velm.test.far");
    std::atomic<bool> ran{false};
    WorkItem item = queue->postAfter(Queue::Clock::duration::max(), [&] { ran = true; });
    ASSERT_TRUE(Blocking::drain(*queue));
    item.cancel();
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_FALSE(ran);
}

TEST(GlobalQueue, RunsWorkInParallel) {
    auto global = Queue::global();
    // Shared with the work: it may still be leaving wait() when the test ends.
    auto first = std::make_shared<Gate>();
    auto second = std::make_shared<Gate>();
    auto sawItself = std::make_shared<std::atomic<bool>>(false);
    // Each waits for the other: this only finishes when both run at once.
    global->post([=] {
        *sawItself = global->isCurrent();
        first->open();
        second->wait();
    });
    global->post([=] {
        second->open();
        first->wait();
    });
    EXPECT_TRUE(first->wait());
    EXPECT_TRUE(second->wait());
    EXPECT_TRUE(*sawItself);
    EXPECT_FALSE(global->isCurrent());
}

TEST(GlobalQueue, WorkThatBlocksLeavesSerialQueuesRunning) {
    auto release = std::make_shared<Gate>();
    for (int i = 0; i < 64; ++i) { // more than any pool has threads
        Queue::global()->post([release] { release->wait(); });
    }
    Gate ran;
    Queue::make("velm.test.unblocked")->post([&] { ran.open(); });
    EXPECT_TRUE(ran.wait());
    release->open();
}

} // namespace
} // namespace velm
