#include "tests/support/ConnectionProbe.h"

#include <algorithm>

namespace velm::test {

namespace {

bool isEnd(TlsConnection::State state) {
    return state == TlsConnection::State::failed || state == TlsConnection::State::cancelled;
}

} // namespace

ConnectionProbe::ConnectionProbe(std::shared_ptr<TlsConnection> connection)
    : connection_(std::move(connection)) {
    connection_->setOnState([states = states_](State state, const std::optional<NetError>& error) {
        states->push({state, error});
    });
}

void ConnectionProbe::receiveNext(std::weak_ptr<TlsConnection> connection, std::shared_ptr<Reading> reading,
                                  std::size_t maximum) {
    auto strong = connection.lock();
    if (!strong) {
        return;
    }
    strong->receive(
        1, maximum,
        [connection, reading, maximum](Bytes data, bool isComplete, const std::optional<NetError>& error) {
            if (!data.empty()) {
                reading->chunks.push(std::move(data));
            }
            if (isComplete || error) {
                reading->complete = isComplete;
                reading->ends.push(error);
                return;
            }
            receiveNext(connection, reading, maximum);
        });
}

bool ConnectionProbe::waitFor(State state) {
    return states_->waitFor([state](const auto& values) {
        return std::ranges::any_of(values, [state](const auto& value) { return value.first == state; });
    });
}

bool ConnectionProbe::waitForEnd() {
    return states_->waitFor([](const auto& values) { return !values.empty() && isEnd(values.back().first); });
}

std::vector<ConnectionProbe::State> ConnectionProbe::states() const {
    std::vector<State> result;
    for (const auto& value : states_->values()) {
        result.push_back(value.first);
    }
    return result;
}

std::size_t ConnectionProbe::endCount() const {
    return std::ranges::count_if(states(), isEnd);
}

std::optional<NetError> ConnectionProbe::failure() const {
    const auto values = states_->values();
    const auto failed =
        std::ranges::find(values, State::failed, &std::pair<State, std::optional<NetError>>::first);
    return failed == values.end() ? std::nullopt : failed->second;
}

bool ConnectionProbe::waitForBytes(std::size_t count) {
    return reading_->chunks.waitFor([count](const std::vector<Bytes>& chunks) {
        std::size_t total = 0;
        for (const auto& chunk : chunks) {
            total += chunk.size();
        }
        return total >= count;
    });
}

Bytes ConnectionProbe::received() const {
    Bytes all;
    for (const auto& chunk : reading_->chunks.values()) {
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    return all;
}

bool ConnectionProbe::endedCleanly() const {
    const auto ends = reading_->ends.values();
    return !ends.empty() && reading_->complete && !ends.front();
}

} // namespace velm::test
