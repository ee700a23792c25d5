#include "platform/dispatch/ThreadInbox.h"
#include "tests/support/LogCapture.h"

#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velm {
namespace {

// How an owner's thread serves its inbox, with no descriptor of its own to watch.
void serve(ThreadInbox& inbox) {
    while (inbox.runTasks()) {
        ASSERT_TRUE(inbox.wait({-1, 0, 0}, -1));
    }
}

TEST(ThreadInbox, WakesTheServingThreadAndRunsTasksThereInPostOrder) {
    ThreadInbox inbox;
    ASSERT_TRUE(inbox.isUsable());
    std::thread serving([&] { serve(inbox); });
    std::vector<int> order; // touched only on the serving thread until the promise is kept
    std::promise<std::thread::id> last;
    for (int i = 0; i < 100; ++i) {
        inbox.post([&order, i] { order.push_back(i); });
    }
    inbox.post([&last] { last.set_value(std::this_thread::get_id()); });
    EXPECT_EQ(last.get_future().get(), serving.get_id());
    inbox.closeAndJoin(serving);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

// A task that throws must not take the whole process down with its thread.
TEST(ThreadInbox, ATaskThatThrowsIsLoggedAndTheThreadServesTheNextOnes) {
    LogCapture log;
    ThreadInbox inbox;
    std::thread serving([&] { serve(inbox); });
    std::promise<void> servedAfter;
    inbox.post([] { throw std::runtime_error("no more room"); });
    inbox.post([] { throw 7; });
    inbox.post([&servedAfter] { servedAfter.set_value(); });
    servedAfter.get_future().get();
    inbox.closeAndJoin(serving);
    EXPECT_TRUE(log.contains("no more room"));
    EXPECT_TRUE(log.contains("non-standard exception"));
}

TEST(ThreadInbox, ClosingReleasesTasksNotYetRunAndDropsLaterOnes) {
    ThreadInbox inbox;
    std::thread idle([] {});
    auto held = std::make_shared<int>(0);
    bool ran = false;
    inbox.post([held, &ran] { ran = true; });
    inbox.closeAndJoin(idle);
    EXPECT_EQ(held.use_count(), 1);
    inbox.post([held, &ran] { ran = true; });
    EXPECT_EQ(held.use_count(), 1);
    EXPECT_FALSE(inbox.runTasks());
    EXPECT_FALSE(ran);
    EXPECT_TRUE(inbox.isClosed());
}

TEST(ThreadInbox, ClosedFromItsOwnTaskTheServingThreadEndsByItself) {
    auto inbox = std::make_shared<ThreadInbox>();
    // Shared with the thread, which may still be returning from set_value() once the wait is over.
    auto ended = std::make_shared<std::promise<void>>();
    auto hasEnded = ended->get_future();
    std::thread serving([inbox, ended] {
        serve(*inbox);
        ended->set_value();
    });
    inbox->post([inbox, &serving] { inbox->closeAndJoin(serving); });
    hasEnded.get();
    EXPECT_FALSE(serving.joinable());
}

} // namespace
} // namespace velm
