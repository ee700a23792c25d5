#include "platform/x11/X11EventLoop.h"
#include "tests/support/PrivateDisplay.h"

#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace velm {
namespace {

// A loop's owner goes (a curtain coming down, a service stopping) while the loop's thread waits on a
// server that stopped answering: the owner must not wait with it for good.
TEST(X11EventLoopTest, LettingGoOfALoopWhoseServerStoppedAnsweringReturns) {
    const auto display = test::PrivateDisplay::start();
    if (!display) {
        GTEST_SKIP() << "no Xvfb here";
    }
    setenv("DISPLAY", display->name().c_str(), 1);
    auto loop = X11EventLoop::open("hung server");
    ASSERT_TRUE(loop);
    std::promise<void> asked;
    display->freeze();
    loop->post([&asked](X11Connection& connection) {
        asked.set_value();
        XSync(connection.display(), False);
    });
    asked.get_future().wait();

    auto gone = std::async(std::launch::async, [&loop] { loop.reset(); });
    const bool returned = gone.wait_for(X11EventLoop::unansweredLimit * 10) == std::future_status::ready;
    // Whatever happened, the server answers again before the test ends, so nothing stays waiting.
    display->thaw();
    EXPECT_TRUE(returned);
}

// The input sink's connection is used on the session's queue, whose calls may run on any thread of
// the pool: the server can break it under one thread while the thread that opened it lets it go.
TEST(X11ConnectionTest, AConnectionThatBrokeUnderAnotherThreadCanBeLetGoOf) {
    const auto display = test::PrivateDisplay::start();
    if (!display) {
        GTEST_SKIP() << "no Xvfb here";
    }
    setenv("DISPLAY", display->name().c_str(), 1);
    auto opener = std::async(std::launch::async, [&display] {
        auto connection = X11Connection::open();
        if (!connection) {
            return false;
        }
        display->freeze();
        std::promise<void> asking;
        std::thread waiting([&connection, &asking] {
            asking.set_value();
            XSync(connection->display(), False);
        });
        asking.get_future().wait();
        // Lets the call reach its wait for the answer, where the break leaves Xlib's lock with that
        // thread; a break met earlier, as the request goes out, leaves nothing to wait for.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        connection->breakOff();
        waiting.join();
        const bool lost = connection->isLost();
        connection.reset();
        return lost;
    });
    const bool returned = opener.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    display->thaw();
    ASSERT_TRUE(returned);
    EXPECT_TRUE(opener.get());
}

} // namespace
} // namespace velm
