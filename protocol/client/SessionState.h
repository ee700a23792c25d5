#pragma once

#include "platform/core/CaseValue.h"
#include "protocol/client/SessionFailure.h"

#include <string>

namespace velm {

// The cases of SessionState.
struct SessionStateCases {
    // A quick retry after a lost connection; attempt counts from 1.
    struct Reconnecting {
        int attempt;
        friend bool operator==(const Reconnecting&, const Reconnecting&) = default;
    };
    // Quick retries are spent; the client waits for the host to come back.
    struct WaitingForHost {
        bool restarting;
        friend bool operator==(const WaitingForHost&, const WaitingForHost&) = default;
    };
    struct Failed {
        SessionFailure failure;
        friend bool operator==(const Failed&, const Failed&) = default;
    };
    struct Offline {
        friend bool operator==(const Offline&, const Offline&) = default;
    };
    struct Discovering {
        friend bool operator==(const Discovering&, const Discovering&) = default;
    };
    struct Available {
        friend bool operator==(const Available&, const Available&) = default;
    };
    struct Connecting {
        friend bool operator==(const Connecting&, const Connecting&) = default;
    };
    struct Authenticating {
        friend bool operator==(const Authenticating&, const Authenticating&) = default;
    };
    struct Connected {
        friend bool operator==(const Connected&, const Connected&) = default;
    };
};

// Where the client's session with a host stands, with the line of text the client shows for it and the
// rule for which state may follow which.
class SessionState
    : public SessionStateCases,
      public CaseValue<SessionStateCases::Reconnecting, SessionStateCases::WaitingForHost,
                       SessionStateCases::Failed, SessionStateCases::Offline, SessionStateCases::Discovering,
                       SessionStateCases::Available, SessionStateCases::Connecting,
                       SessionStateCases::Authenticating, SessionStateCases::Connected> {
public:
    using CaseValue::CaseValue;

    static SessionState reconnecting(int attempt) { return Reconnecting{attempt}; }
    static SessionState waitingForHost(bool restarting) { return WaitingForHost{restarting}; }
    static SessionState failed(SessionFailure failure) { return Failed{failure}; }
    static SessionState offline() { return Offline{}; }
    static SessionState discovering() { return Discovering{}; }
    static SessionState available() { return Available{}; }
    static SessionState connecting() { return Connecting{}; }
    static SessionState authenticating() { return Authenticating{}; }
    static SessionState connected() { return Connected{}; }

    // The line the client shows, in UTF-8.
    std::string displayText() const;
    // True while a connection is being made, held or won back.
    bool isActive() const;
    // Whether next may follow this state. Only reconnecting (with a new attempt), failed and offline may
    // follow themselves.
    bool canMove(const SessionState& next) const;
};

} // namespace velm
