#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/net/TlsConnection.h"
#include "tests/support/EventLog.h"

#include <memory>
#include <optional>
#include <vector>

namespace velm::test {

// Starts a connection on a queue of its own and records what it reports: every state,
// and, once reading, the bytes received and how the stream ended.
class ConnectionProbe {
public:
    using State = TlsConnection::State;

    explicit ConnectionProbe(std::shared_ptr<TlsConnection> connection);

    TlsConnection& connection() { return *connection_; }
    void start() { connection_->start(queue_); }
    // Keeps one receive of at most `maximum` bytes pending until the stream ends.
    void readContinuously(std::size_t maximum = 65536) { receiveNext(connection_, reading_, maximum); }

    bool waitFor(State state);
    bool waitForEnd(); // failed or cancelled
    std::vector<State> states() const;
    std::size_t endCount() const;
    std::optional<NetError> failure() const;

    bool waitForBytes(std::size_t count);
    bool waitForStreamEnd() { return reading_->ends.waitForCount(1); }
    Bytes received() const;
    // The peer closed its sending side, and no error came with the end.
    bool endedCleanly() const;

private:
    struct Reading {
        EventLog<Bytes> chunks;
        EventLog<std::optional<NetError>> ends; // one entry: error or none for a clean end
        bool complete = false;
    };

    static void receiveNext(std::weak_ptr<TlsConnection> connection, std::shared_ptr<Reading> reading,
                            std::size_t maximum);

    std::shared_ptr<TlsConnection> connection_;
    std::shared_ptr<Queue> queue_ = Queue::make("probe");
    std::shared_ptr<EventLog<std::pair<State, std::optional<NetError>>>> states_ =
        std::make_shared<EventLog<std::pair<State, std::optional<NetError>>>>();
    std::shared_ptr<Reading> reading_ = std::make_shared<Reading>();
};

} // namespace velm::test
