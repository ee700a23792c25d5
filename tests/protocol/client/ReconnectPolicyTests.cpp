#include "protocol/client/ReconnectPolicy.h"

#include <gtest/gtest.h>
#include <variant>

namespace velm {
namespace {

using Clock = ReconnectPolicy::Clock;

Clock::time_point reconnectClockAt(double seconds) {
    return Clock::time_point{} +
           std::chrono::duration_cast<Clock::duration>(ReconnectPolicy::Seconds(seconds));
}

void expectRetry(const ReconnectPolicy::Step& step, double afterSeconds, int attempt) {
    const auto* retry = std::get_if<ReconnectPolicy::Retry>(&step);
    ASSERT_NE(retry, nullptr) << "step " << step.index() << " instead of a retry";
    EXPECT_DOUBLE_EQ(retry->after.count(), afterSeconds);
    EXPECT_EQ(retry->attempt, attempt);
}

void expectWait(const ReconnectPolicy::Step& step) {
    EXPECT_EQ(step, ReconnectPolicy::Step(ReconnectPolicy::Wait{ReconnectPolicy::Seconds(2.0)}));
}

void expectGiveUp(const ReconnectPolicy::Step& step) {
    EXPECT_TRUE(std::holds_alternative<ReconnectPolicy::GiveUp>(step)) << "step " << step.index();
}

TEST(ReconnectPolicy, RetriesQuicklyThenWaitsTenMinutesThenGivesUpUntilReset) {
    ReconnectPolicy policy;
    expectGiveUp(policy.nextStep(false, reconnectClockAt(0)));
    EXPECT_EQ(policy.attempt(), 0);
    EXPECT_FALSE(policy.isWaiting());

    const double delays[] = {0.4, 0.64, 1.024, 1.6384, 2.62144, 3.0};
    for (int i = 0; i < 6; ++i) {
        // Once retries have begun, a false flag does not stop them.
        expectRetry(policy.nextStep(i == 0, reconnectClockAt(i)), delays[i], i + 1);
        EXPECT_FALSE(policy.isWaiting());
    }

    expectWait(policy.nextStep(false, reconnectClockAt(100)));
    expectWait(policy.nextStep(true, reconnectClockAt(100 + 599.9)));
    expectGiveUp(policy.nextStep(true, reconnectClockAt(100 + 600)));
    expectGiveUp(policy.nextStep(true, reconnectClockAt(100 + 601)));
    // Giving up changes nothing: the policy stays waiting from the same moment.
    EXPECT_EQ(policy.waitingSince(), reconnectClockAt(100));
    EXPECT_EQ(policy.attempt(), 6);

    policy.reset();
    EXPECT_EQ(policy.attempt(), 0);
    EXPECT_FALSE(policy.isWaiting());
    expectGiveUp(policy.nextStep(false, reconnectClockAt(800)));
    expectRetry(policy.nextStep(true, reconnectClockAt(800)), 0.4, 1);
}

TEST(ReconnectPolicy, BeginWaitingKeepsTheFirstMoment) {
    ReconnectPolicy policy;
    policy.beginWaiting(reconnectClockAt(10));
    policy.beginWaiting(reconnectClockAt(20));
    EXPECT_EQ(policy.waitingSince(), reconnectClockAt(10));

    // A policy told to wait skips the quick retries, whatever the flag.
    expectWait(policy.nextStep(false, reconnectClockAt(15)));
    expectGiveUp(policy.nextStep(true, reconnectClockAt(610)));
    EXPECT_EQ(policy.attempt(), 0);
}

} // namespace
} // namespace velm
