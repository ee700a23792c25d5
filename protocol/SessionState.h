#pragma once

#include "protocol/SessionFailure.h"

#include <concepts>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace velm {

// Where the client's session with a host stands, with the line of text the client shows for it and the
// rule for which state may follow which.
class SessionState {
public:
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

    using Value = std::variant<Reconnecting, WaitingForHost, Failed, Offline, Discovering, Available,
                               Connecting, Authenticating, Connected>;

    template <typename Alternative>
    requires(!std::same_as<std::remove_cvref_t<Alternative>, SessionState> &&
             std::is_constructible_v<Value, Alternative&&>) SessionState(Alternative&& value)
        : value_(std::forward<Alternative>(value)) {}

    static SessionState reconnecting(int attempt) { return Reconnecting{attempt}; }
    static SessionState waitingForHost(bool restarting) { return WaitingForHost{restarting}; }
    static SessionState failed(SessionFailure failure) { return Failed{failure}; }
    static SessionState offline() { return Offline{}; }
    static SessionState discovering() { return Discovering{}; }
    static SessionState available() { return Available{}; }
    static SessionState connecting() { return Connecting{}; }
    static SessionState authenticating() { return Authenticating{}; }
    static SessionState connected() { return Connected{}; }

    const Value& value() const { return value_; }
    // The state's payload when it is of that case, else null.
    template <typename Alternative> const Alternative* get() const {
        return std::get_if<Alternative>(&value_);
    }

    // The line the client shows, in UTF-8.
    std::string displayText() const;
    // True while a connection is being made, held or won back.
    bool isActive() const;
    // Whether next may follow this state. Only reconnecting (with a new attempt), failed and offline may
    // follow themselves.
    bool canMove(const SessionState& next) const;

    friend bool operator==(const SessionState&, const SessionState&) = default;

private:
    template <typename... Cases> bool isOneOf() const {
        return (std::holds_alternative<Cases>(value_) || ...);
    }

    Value value_;
};

} // namespace velm
