#include "protocol/client/SessionState.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(SessionState, DisplayTexts) {
    EXPECT_EQ(SessionState::reconnecting(12).displayText(), "Reconnecting (12)\xE2\x80\xA6");
    EXPECT_EQ(SessionState::waitingForHost(true).displayText(),
              "This Mac is restarting. Waiting for it to come back\xE2\x80\xA6");
    EXPECT_EQ(SessionState::failed(SessionFailure::protocolMismatch).displayText(),
              "Update Velm on both devices");
}

TEST(SessionState, MovesThatMatter) {
    using S = SessionState;
    const struct {
        SessionState from;
        SessionState to;
        bool allowed;
    } moves[] = {
        {S::connected(), S::connected(), false},
        {S::connected(), S::reconnecting(1), true},
        {S::connecting(), S::connected(), false}, // never without authenticating
        {S::authenticating(), S::connected(), true},
        {S::discovering(), S::available(), true},
        {S::discovering(), S::connecting(), false},
        {S::available(), S::available(), false},
        {S::waitingForHost(false), S::connecting(), true},
        {S::connected(), S::offline(), true},
        {S::offline(), S::failed(SessionFailure::connectionLost), true},
        // Payloads do not change which moves are allowed.
        {S::reconnecting(1), S::reconnecting(2), true},
        {S::failed(SessionFailure::awayExpired), S::failed(SessionFailure::notConfirmed), true},
        {S::waitingForHost(true), S::waitingForHost(false), false},
    };
    for (const auto& move : moves) {
        EXPECT_EQ(move.from.canMove(move.to), move.allowed)
            << move.from.displayText() << " -> " << move.to.displayText();
    }
}

} // namespace
} // namespace velm
