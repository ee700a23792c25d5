#include "platform/dispatch/ManualQueue.h"
#include "platform/dispatch/Queue.h"
#include "tests/support/Blocking.h"
#include "tests/support/Gate.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;

// Collects names from any thread.
class Journal {
public:
    void add(std::string name) {
        std::lock_guard guard(lock);
        names_.push_back(std::move(name));
    }
    std::vector<std::string> names() {
        std::lock_guard guard(lock);
        return names_;
    }

private:
    std::mutex lock;
    std::vector<std::string> names_;
};

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
                    if (inside.exchange(true)) {
                        ++overlaps;
                    }
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
    for (int poster = 0; poster < posters; ++poster) {
        ASSERT_EQ(seen[poster].size(), static_cast<std::size_t>(perPoster));
        for (int i = 0; i < perPoster; ++i) {
            ASSERT_EQ(seen[poster][i], i) << "poster " << poster;
        }
    }
}

TEST(SerialQueue, WorkPostedFromWorkRunsAfterItAndAfterWhatWasAlreadyQueued) {
    auto queue = Queue::make("velm.test.serial");
    Journal journal;
    Gate done;
    queue->post([&] {
        queue->post([&] {
            queue->post([&] {
                journal.add("inner");
                done.open();
            });
            journal.add("outer-end");
        });
        queue->post([&] { journal.add("next"); });
    });
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(journal.names(), (std::vector<std::string>{"outer-end", "next", "inner"}));
}

TEST(SerialQueue, IsCurrentOnlyOnItsOwnWork) {
    auto queue = Queue::make("velm.test.a");
    auto other = Queue::make("velm.test.b");
    std::atomic<int> answers{0};
    queue->post([&] {
        answers += queue->isCurrent() ? 1 : 100;
        answers += other->isCurrent() ? 100 : 1;
    });
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_EQ(answers, 2);
    EXPECT_FALSE(queue->isCurrent());
    EXPECT_EQ(queue->label(), "velm.test.a");
}

TEST(SerialQueue, DelayedWorkRunsInDueOrderAndAfterItsDelay) {
    auto queue = Queue::make("velm.test.timers");
    Journal journal;
    Gate done;
    const auto posted = queue->now();
    std::atomic<bool> ranBeforeItsDelay{false};
    queue->post([&] {
        queue->postAfter(60ms, [&] {
            journal.add("60");
            done.open();
        });
        queue->postAfter(20ms, [&] {
            ranBeforeItsDelay = queue->now() - posted < 20ms;
            journal.add("20");
        });
        queue->postAfter(40ms, [&] { journal.add("40"); });
        queue->postAfter(-1s, [&] { journal.add("negative"); });
    });
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(journal.names(), (std::vector<std::string>{"negative", "20", "40", "60"}));
    EXPECT_FALSE(ranBeforeItsDelay);
}

TEST(SerialQueue, ThrowingWorkIsLoggedAndTheQueueCarriesOn) {
    LogCapture log;
    auto queue = Queue::make("velm.test.throws");
    Journal journal;
    queue->post([] { throw std::runtime_error("boom"); });
    queue->postAfter(0ms, [] { throw 7; });
    queue->post([&] { journal.add("after"); });
    ASSERT_TRUE(Blocking::waitUntil([&] { return log.contains("non-standard"); }));
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_EQ(journal.names(), (std::vector<std::string>{"after"}));
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

TEST(WorkItem, CancelBeforeTheTimeComesStopsTheWorkAndReleasesIt) {
    auto queue = Queue::make("velm.test.cancel");
    auto token = std::make_shared<int>(0);
    std::atomic<bool> cancelledRan{false};
    Gate later;
    WorkItem item = queue->postAfter(20ms, [token, &cancelledRan] { cancelledRan = true; });
    item.cancel();
    EXPECT_TRUE(item.isCancelled());
    EXPECT_EQ(token.use_count(), 1) << "the cancelled work still holds what it captured";
    // Timers come due in order: once the later one has run, the earlier one had its chance.
    queue->postAfter(40ms, [&] { later.open(); });
    ASSERT_TRUE(later.wait());
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_FALSE(cancelledRan);
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

TEST(WorkItem, WorkOnTheQueueCanCancelLaterWorkOfTheSameQueue) {
    auto queue = Queue::make("velm.test.self-cancel");
    std::atomic<bool> ran{false};
    std::atomic<bool> cancelledInside{false};
    Gate done;
    queue->post([&] {
        auto item = std::make_shared<WorkItem>();
        // Posted first so that it runs before the timer's work can.
        queue->post([&, item] {
            item->cancel();
            cancelledInside = item->isCancelled();
        });
        *item = queue->postAfter(0ms, [&] { ran = true; });
        queue->postAfter(30ms, [&] { done.open(); });
    });
    ASSERT_TRUE(done.wait());
    EXPECT_TRUE(cancelledInside);
    EXPECT_FALSE(ran);
}

TEST(WorkItem, CancelIsIdempotentFromManyThreadsAndHarmlessOnNothing) {
    auto queue = Queue::make("velm.test.idempotent");
    std::atomic<int> runs{0};
    WorkItem item = queue->postAfter(1h, [&] { ++runs; });
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([item] {
            item.cancel();
            item.cancel();
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(item.isCancelled());

    WorkItem nothing;
    nothing.cancel();
    EXPECT_FALSE(nothing.isCancelled());
    EXPECT_EQ(runs, 0);
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
    item.cancel(); // returns although the work is still running
    EXPECT_TRUE(item.isCancelled());
    release.open();
    EXPECT_TRUE(finished.wait());
}

TEST(WorkItem, EveryUncancelledCallRunsOnceUnderConcurrentCancels) {
    auto queue = Queue::make("velm.test.race");
    constexpr int count = 2000;
    std::vector<std::atomic<int>> runs(count);
    std::vector<WorkItem> items(count);
    for (int i = 0; i < count; ++i) {
        items[i] = queue->postAfter(std::chrono::microseconds(i % 50), [&runs, i] { ++runs[i]; });
    }
    std::thread canceller([&] {
        for (int i = 0; i < count; i += 2) {
            items[i].cancel();
        }
    });
    canceller.join();
    Gate last;
    queue->postAfter(5ms, [&] { last.open(); });
    ASSERT_TRUE(last.wait());
    ASSERT_TRUE(Blocking::drain(*queue));
    for (int i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            EXPECT_LE(runs[i], 1) << i;
        } else {
            EXPECT_EQ(runs[i], 1) << i;
        }
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
    EXPECT_EQ(Queue::global(), global);
}

TEST(GlobalQueue, DelayedWorkRunsAndCanBeCancelled) {
    auto global = Queue::global();
    std::atomic<bool> cancelledRan{false};
    Gate ran;
    WorkItem cancelled = global->postAfter(10ms, [&] { cancelledRan = true; });
    cancelled.cancel();
    global->postAfter(20ms, [&] { ran.open(); });
    EXPECT_TRUE(ran.wait());
    EXPECT_FALSE(cancelledRan);
}

TEST(MainQueue, IsAPlainSerialQueueUntilTheApplicationInstallsOne) {
    auto plain = Queue::main();
    ASSERT_TRUE(plain);
    EXPECT_EQ(Queue::main(), plain);
    EXPECT_TRUE(Blocking::drain(*plain));

    auto installed = std::make_shared<ManualQueue>("velm.test.ui");
    Queue::setMain(installed);
    EXPECT_EQ(Queue::main(), installed);

    Queue::setMain(nullptr);
    auto restored = Queue::main();
    ASSERT_TRUE(restored);
    EXPECT_NE(restored, installed);
    EXPECT_TRUE(Blocking::drain(*restored));
}

} // namespace
} // namespace velm
