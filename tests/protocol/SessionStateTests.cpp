#include "protocol/SessionState.h"

#include <gtest/gtest.h>
#include <set>
#include <string_view>
#include <vector>

namespace velm {
namespace {

TEST(SessionState, DisplayTexts) {
    EXPECT_EQ(SessionState::reconnecting(12).displayText(), "Reconnecting (12)\xE2\x80\xA6");
    EXPECT_EQ(SessionState::waitingForHost(true).displayText(),
              "This Mac is restarting. Waiting for it to come back\xE2\x80\xA6");
    EXPECT_EQ(SessionState::waitingForHost(false).displayText(),
              "Waiting for this Mac to come back\xE2\x80\xA6");
    EXPECT_EQ(SessionState::failed(SessionFailure::protocolMismatch).displayText(),
              "Update Velm on both devices");
}

TEST(SessionState, EveryFailureHasItsOwnMessage) {
    std::set<std::string_view> messages;
    for (int raw = 0; raw <= static_cast<int>(SessionFailure::notConfirmed); ++raw) {
        messages.insert(message(static_cast<SessionFailure>(raw)));
    }
    EXPECT_EQ(messages.size(), 15u);
    EXPECT_FALSE(messages.contains(""));
}

// One state of each case, in the order of the names below.
const std::vector<SessionState> everyCase = {SessionState::reconnecting(1),
                                             SessionState::waitingForHost(false),
                                             SessionState::failed(SessionFailure::connectionLost),
                                             SessionState::offline(),
                                             SessionState::discovering(),
                                             SessionState::available(),
                                             SessionState::connecting(),
                                             SessionState::authenticating(),
                                             SessionState::connected()};
enum Name { reconnecting, waitingForHost, failed, offline, discovering, available, connecting, authenticating,
            connected };
const std::set<int> anyState = {reconnecting, waitingForHost, failed,         offline,  discovering,
                                available,    connecting,     authenticating, connected};

TEST(SessionState, ActiveWhileAConnectionIsMadeHeldOrWonBack) {
    const std::set<int> active = {reconnecting, waitingForHost, connecting, authenticating, connected};
    for (int state : anyState) {
        EXPECT_EQ(everyCase[state].isActive(), active.contains(state)) << everyCase[state].displayText();
    }
}

TEST(SessionState, MovesFollowTheTable) {
    std::set<int> allButAvailable = anyState;
    allButAvailable.erase(available);
    // For each next state, the current states it may follow.
    const std::vector<std::set<int>> allowedFrom = {
        /* reconnecting */ {reconnecting, connecting, authenticating, connected},
        /* waitingForHost */ {reconnecting, connecting, authenticating, connected},
        /* failed */ anyState,
        /* offline */ anyState,
        /* discovering */ {failed, offline},
        /* available */ allButAvailable,
        /* connecting */ {reconnecting, waitingForHost, failed, available},
        /* authenticating */ {reconnecting, waitingForHost, connecting},
        /* connected */ {authenticating},
    };
    for (int next : anyState) {
        for (int current : anyState) {
            EXPECT_EQ(everyCase[current].canMove(everyCase[next]), allowedFrom[next].contains(current))
                << everyCase[current].displayText() << " -> " << everyCase[next].displayText();
        }
    }
}

TEST(SessionState, PayloadsDoNotChangeWhichMovesAreAllowed) {
    EXPECT_TRUE(SessionState::reconnecting(1).canMove(SessionState::reconnecting(2)));
    EXPECT_TRUE(SessionState::failed(SessionFailure::awayExpired)
                    .canMove(SessionState::failed(SessionFailure::notConfirmed)));
    EXPECT_FALSE(SessionState::waitingForHost(true).canMove(SessionState::waitingForHost(false)));
}

} // namespace
} // namespace velm
