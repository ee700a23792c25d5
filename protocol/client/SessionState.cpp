#include "protocol/client/SessionState.h"

namespace velm {
namespace {

template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };
// Spelled out for compilers without deduction for aggregates (clang 14).
template <typename... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

} // namespace

std::string SessionState::displayText() const {
    return std::visit(Overloaded{
                          [](const Reconnecting& state) {
                              return "Reconnecting (" + std::to_string(state.attempt) + ")\u2026";
                          },
                          [](const WaitingForHost& state) {
                              return std::string(
                                  state.restarting
                                      ? "This Mac is restarting. Waiting for it to come back\u2026"
                                      : "Waiting for this Mac to come back\u2026");
                          },
                          [](const Failed& state) { return std::string(message(state.failure)); },
                          [](const Offline&) { return std::string("Offline"); },
                          [](const Discovering&) { return std::string("Searching\u2026"); },
                          [](const Available&) { return std::string("Available"); },
                          [](const Connecting&) { return std::string("Connecting\u2026"); },
                          [](const Authenticating&) { return std::string("Authenticating\u2026"); },
                          [](const Connected&) { return std::string("Connected"); },
                      },
                      value_);
}

bool SessionState::isActive() const {
    return isOneOf<Reconnecting, WaitingForHost, Connecting, Authenticating, Connected>();
}

bool SessionState::canMove(const SessionState& next) const {
    return std::visit(
        Overloaded{
            [this](const Reconnecting&) {
                return isOneOf<Reconnecting, Connecting, Authenticating, Connected>();
            },
            [this](const WaitingForHost&) {
                return isOneOf<Reconnecting, Connecting, Authenticating, Connected>();
            },
            [](const Failed&) { return true; },
            [](const Offline&) { return true; },
            [this](const Discovering&) { return isOneOf<Failed, Offline>(); },
            [this](const Available&) { return !isOneOf<Available>(); },
            [this](const Connecting&) { return isOneOf<Reconnecting, WaitingForHost, Failed, Available>(); },
            [this](const Authenticating&) { return isOneOf<Reconnecting, WaitingForHost, Connecting>(); },
            [this](const Connected&) { return isOneOf<Authenticating>(); },
        },
        next.value_);
}

} // namespace velm
