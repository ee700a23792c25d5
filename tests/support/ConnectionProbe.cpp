#include "tests/support/ConnectionProbe.h"

namespace velm::test {

namespace {

bool isEnd(TlsConnection::State state)
{
    return state == TlsConnection::State::failed || state == TlsConnection::State::cancelled;
}

} // namespace

ConnectionProbe::ConnectionProbe(std::shared_ptr<TlsConnection> connection)
    : connection_(std::move(connection)), queue_(Queue::make("probe")),
      states_(std::make_shared<EventLog<std::pair<State, std::optional<NetError>>>>())
{
    connection_->setStateHandler(
        [states = states_](State state, const std::optional<NetError>& error) { states->push({state, error}); });
}

void ConnectionProbe::start() { connection_->start(queue_); }

void ConnectionProbe::readContinuously(std::size_t maximum) { receiveNext(connection_, reading_, maximum); }

void ConnectionProbe::receiveNext(std::weak_ptr<TlsConnection> connection, std::shared_ptr<Reading> reading,
                                  std::size_t maximum)
{
    auto strong = connection.lock();
    if (!strong) {
        return;
    }
    strong->receive(1, maximum,
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

bool ConnectionProbe::waitFor(State state)
{
    return states_->waitFor([state](const auto& values) {
        for (const auto& value : values) {
            if (value.first == state) {
                return true;
            }
        }
        return false;
    });
}

bool ConnectionProbe::waitForEnd()
{
    return states_->waitFor([](const auto& values) { return !values.empty() && isEnd(values.back().first); });
}

std::vector<ConnectionProbe::State> ConnectionProbe::states() const
{
    std::vector<State> result;
    for (const auto& value : states_->values()) {
        result.push_back(value.first);
    }
    return result;
}

std::size_t ConnectionProbe::endCount() const
{
    std::size_t count = 0;
    for (const auto& value : states_->values()) {
        count += isEnd(value.first) ? 1 : 0;
    }
    return count;
}

std::optional<NetError> ConnectionProbe::failure() const
{
    for (const auto& value : states_->values()) {
        if (value.first == State::failed) {
            return value.second;
        }
    }
    return std::nullopt;
}

bool ConnectionProbe::waitForBytes(std::size_t count)
{
    return reading_->chunks.waitFor([count](const std::vector<Bytes>& chunks) {
        std::size_t total = 0;
        for (const auto& chunk : chunks) {
            total += chunk.size();
        }
        return total >= count;
    });
}

bool ConnectionProbe::waitForStreamEnd() { return reading_->ends.waitForCount(1); }

Bytes ConnectionProbe::received() const
{
    Bytes all;
    for (const auto& chunk : reading_->chunks.values()) {
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    return all;
}

bool ConnectionProbe::sawCompletion() const
{
    const auto ends = reading_->ends.values();
    return !ends.empty() && reading_->complete;
}

std::optional<NetError> ConnectionProbe::receiveError() const
{
    const auto ends = reading_->ends.values();
    return ends.empty() ? std::nullopt : ends.front();
}

} // namespace velm::test
