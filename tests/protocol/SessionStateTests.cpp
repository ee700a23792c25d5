#include "protocol/SessionState.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace velm {
namespace {

TEST(SessionState, DisplayTexts) {
    EXPECT_EQ(SessionState::reconnecting(12).displayText(), "Reconnecting (12)\xE2\x80\xA6");
    EXPECT_EQ(SessionState::reconnecting(-1).displayText(), "Reconnecting (-1)\xE2\x80\xA6");
    EXPECT_EQ(SessionState::waitingForHost(true).displayText(),
              "This Mac is restarting. Waiting for it to come back\xE2\x80\xA6");
    EXPECT_EQ(SessionState::waitingForHost(false).displayText(),
              "Waiting for this Mac to come back\xE2\x80\xA6");
    EXPECT_EQ(SessionState::failed(SessionFailure::protocolMismatch).displayText(),
              "Update Velm on both devices");
    EXPECT_EQ(SessionState::offline().displayText(), "Offline");
    EXPECT_EQ(SessionState::discovering().displayText(), "Searching\xE2\x80\xA6");
    EXPECT_EQ(SessionState::available().displayText(), "Available");
    EXPECT_EQ(SessionState::connecting().displayText(), "Connecting\xE2\x80\xA6");
    EXPECT_EQ(SessionState::authenticating().displayText(), "Authenticating\xE2\x80\xA6");
    EXPECT_EQ(SessionState::connected().displayText(), "Connected");
}

TEST(SessionState, EveryFailureHasItsOwnMessage) {
    std::set<std::string_view> messages;
    for (int raw = 0; raw <= static_cast<int>(SessionFailure::notConfirmed); ++raw) {
        const auto failure = static_cast<SessionFailure>(raw);
        EXPECT_FALSE(message(failure).empty());
        EXPECT_TRUE(messages.insert(message(failure)).second) << "repeated: " << message(failure);
        EXPECT_EQ(SessionState::failed(failure).displayText(), message(failure));
    }
    EXPECT_EQ(messages.size(), 15u);
    EXPECT_EQ(
        message(SessionFailure::awayKeyReplaced),
        "This Mac holds an older away key for this device. At home, remove the device in Velm Host and pair "
        "it again");
    EXPECT_EQ(message(SessionFailure::awayRefused), "This Mac's router wouldn't let the connection in");
}

TEST(SessionState, EqualOnlyWithTheSameCaseAndPayload) {
    EXPECT_EQ(SessionState::reconnecting(2), SessionState::reconnecting(2));
    EXPECT_NE(SessionState::reconnecting(2), SessionState::reconnecting(3));
    EXPECT_NE(SessionState::waitingForHost(true), SessionState::waitingForHost(false));
    EXPECT_NE(SessionState::failed(SessionFailure::idleTimeout),
              SessionState::failed(SessionFailure::notConfirmed));
    EXPECT_NE(SessionState::offline(), SessionState::available());
}

// One state of every case, in declaration order, and the names the table below uses for them.
const std::vector<SessionState>& everyCase() {
    static const std::vector<SessionState> states = {
        SessionState::reconnecting(1),
        SessionState::waitingForHost(false),
        SessionState::failed(SessionFailure::connectionLost),
        SessionState::offline(),
        SessionState::discovering(),
        SessionState::available(),
        SessionState::connecting(),
        SessionState::authenticating(),
        SessionState::connected(),
    };
    return states;
}

enum Name {
    reconnecting,
    waitingForHost,
    failed,
    offline,
    discovering,
    available,
    connecting,
    authenticating,
    connected
};

TEST(SessionState, ActiveWhileAConnectionIsMadeHeldOrWonBack) {
    const std::set<int> active = {reconnecting, waitingForHost, connecting, authenticating, connected};
    for (std::size_t i = 0; i < everyCase().size(); ++i) {
        EXPECT_EQ(everyCase()[i].isActive(), active.contains(static_cast<int>(i)))
            << everyCase()[i].displayText();
    }
}

TEST(SessionState, MovesFollowTheTable) {
    const std::set<int> anyState = {reconnecting, waitingForHost, failed,         offline,  discovering,
                                    available,    connecting,     authenticating, connected};
    // For each next state, the current states it may follow.
    const std::vector<std::set<int>> allowedFrom = {
        /* reconnecting */ {reconnecting, connecting, authenticating, connected},
        /* waitingForHost */ {reconnecting, connecting, authenticating, connected},
        /* failed */ anyState,
        /* offline */ anyState,
        /* discovering */ {failed, offline},
        /* available */
        {reconnecting, waitingForHost, failed, offline, discovering, connecting, authenticating, connected},
        /* connecting */ {reconnecting, waitingForHost, failed, available},
        /* authenticating */ {reconnecting, waitingForHost, connecting},
        /* connected */ {authenticating},
    };
    for (std::size_t next = 0; next < everyCase().size(); ++next) {
        for (std::size_t current = 0; current < everyCase().size(); ++current) {
            EXPECT_EQ(everyCase()[current].canMove(everyCase()[next]),
                      allowedFrom[next].contains(static_cast<int>(current)))
                << everyCase()[current].displayText() << " -> " << everyCase()[next].displayText();
        }
    }
}

TEST(SessionState, PayloadsDoNotChangeWhichMovesAreAllowed) {
    EXPECT_TRUE(SessionState::reconnecting(1).canMove(SessionState::reconnecting(2)));
    EXPECT_TRUE(SessionState::connected().canMove(SessionState::reconnecting(1)));
    EXPECT_FALSE(SessionState::connected().canMove(SessionState::connected()));
    EXPECT_TRUE(SessionState::failed(SessionFailure::awayExpired)
                    .canMove(SessionState::failed(SessionFailure::awayExpired)));
    EXPECT_TRUE(SessionState::waitingForHost(true).canMove(SessionState::connecting()));
    EXPECT_FALSE(SessionState::waitingForHost(true).canMove(SessionState::waitingForHost(false)));
    EXPECT_TRUE(SessionState::discovering().canMove(SessionState::available()));
    EXPECT_FALSE(SessionState::discovering().canMove(SessionState::connecting()));
}

} // namespace
} // namespace velm
