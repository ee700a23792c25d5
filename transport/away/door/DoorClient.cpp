#include "transport/away/door/DoorClient.h"

#include "platform/dispatch/IoPool.h"

#include <asio/buffer.hpp>
#include <asio/error.hpp>
#include <utility>

namespace velm {

std::shared_ptr<DoorClient> DoorClient::knock(std::string address, SecretBytes deviceKey,
                                              std::optional<std::uint16_t> doorPort,
                                              std::shared_ptr<Queue> queue, Completion completion) {
    std::shared_ptr<DoorClient> client(new DoorClient(std::move(address), std::move(deviceKey), doorPort,
                                                      std::move(queue), std::move(completion)));
    client->queue_->post([weak = client->weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->start();
        }
    });
    return client;
}

DoorClient::DoorClient(std::string address, SecretBytes deviceKey, std::optional<std::uint16_t> doorPort,
                       std::shared_ptr<Queue> queue, Completion completion)
    : address_(std::move(address)), doorPort_(doorPort), knocker_(deviceKey), queue_(std::move(queue)),
      resolver_(IoPool::shared().context()), completion_(std::move(completion)) {}

DoorClient::~DoorClient() {
    for (const WorkItem& timer : timers_) {
        timer.cancel();
    }
}

void DoorClient::cancel() {
    queue_->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->completion_ = nullptr;
            self->tearDown();
        }
    });
}

void DoorClient::start() {
    if (!completion_) {
        return;
    }
    windows_ = Door::acceptedEpochs(Date::now());
    timers_.push_back(queue_->postAfter(giveUp, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (self && self->completion_) {
            self->finish(NoAnswer{});
        }
    }));
    std::error_code notLiteral;
    const asio::ip::address literal = asio::ip::make_address(address_, notLiteral);
    if (!notLiteral) {
        connect(literal);
        return;
    }
    resolver_.async_resolve(
        address_, "",
        [weak = weak_from_this(), queue = queue_](const std::error_code& error, const auto& results) {
            queue->post([weak, error, results] {
                if (const auto self = weak.lock()) {
                    self->resolved(error, results);
                }
            });
        });
}

void DoorClient::resolved(const std::error_code& error,
                          const asio::ip::udp::resolver::results_type& results) {
    if (!completion_ || error || results.empty()) {
        return;
    }
    // The door listens on IPv4, so an IPv4 address of the name is tried first.
    for (const auto& result : results) {
        if (result.endpoint().address().is_v4()) {
            connect(result.endpoint().address());
            return;
        }
    }
    connect(results.begin()->endpoint().address());
}

void DoorClient::connect(const asio::ip::address& address) {
    for (const std::uint64_t window : windows_) {
        const std::uint16_t port = doorPort_.value_or(Door::doorPort(knocker_.deviceKey(), window));
        if (port == 0) {
            continue;
        }
        auto connection = std::make_unique<Connection>(
            Connection{window, asio::ip::udp::socket(IoPool::shared().context())});
        std::error_code error;
        connection->socket.open(address.is_v4() ? asio::ip::udp::v4() : asio::ip::udp::v6(), error);
        if (!error) {
            connection->socket.non_blocking(true, error);
        }
        if (!error) {
            connection->socket.connect(asio::ip::udp::endpoint(address, port), error);
        }
        // A connection that cannot be made sends nothing; the others still knock.
        if (error) {
            continue;
        }
        const std::size_t index = connections_.size();
        connections_.push_back(std::move(connection));
        receive(index);
        for (const auto delay : sendTimes) {
            timers_.push_back(queue_->postAfter(delay, [weak = weak_from_this(), index] {
                if (const auto self = weak.lock()) {
                    self->send(index);
                }
            }));
        }
    }
}

void DoorClient::send(std::size_t connection) {
    if (!completion_ || connection >= connections_.size()) {
        return;
    }
    Connection& target = *connections_[connection];
    // Stamped with the time of sending, so a late resend is still within the host's clock window.
    const std::optional<Bytes> knock = knocker_.knock(target.window, Date::now());
    if (knock) {
        std::error_code ignored;
        target.socket.send(asio::buffer(*knock), 0, ignored);
    }
}

void DoorClient::receive(std::size_t connection) {
    auto read = std::make_shared<Receive>();
    connections_[connection]->socket.async_receive(asio::buffer(read->buffer),
                                                   [weak = weak_from_this(), queue = queue_, connection,
                                                    read](const std::error_code& error, std::size_t size) {
                                                       queue->post([weak, connection, read, error, size] {
                                                           if (const auto self = weak.lock()) {
                                                               self->received(connection, error, *read, size);
                                                           }
                                                       });
                                                   });
}

void DoorClient::received(std::size_t connection, const std::error_code& error, const Receive& read,
                          std::size_t size) {
    if (!completion_ || connection >= connections_.size() || error == asio::error::operation_aborted) {
        return;
    }
    // A connected UDP socket reports an ICMP error for an earlier knock (a window whose
    // port is not open yet, a router that lost a mapping) on its next receive: that is
    // no reason to stop listening for the reply to a later knock.
    const bool icmpReport = error == asio::error::connection_refused ||
                            error == asio::error::host_unreachable ||
                            error == asio::error::network_unreachable;
    if (error && !icmpReport) {
        return;
    }
    if (!error) {
        const std::optional<Door::Answer> answer =
            Door::Reply::open(ByteView(read.buffer).first(size), knocker_);
        if (answer && answer->isRefused()) {
            finish(Refused{});
            return;
        }
        if (answer && answer->admitted()) {
            finish(Admitted{address_, answer->admitted()->controlPort, answer->admitted()->sessionKey});
            return;
        }
    }
    receive(connection);
}

void DoorClient::finish(Outcome outcome) {
    Completion completion = std::move(completion_);
    completion_ = nullptr;
    tearDown();
    completion(std::move(outcome));
}

void DoorClient::tearDown() {
    for (const WorkItem& timer : timers_) {
        timer.cancel();
    }
    timers_.clear();
    resolver_.cancel();
    for (const auto& connection : connections_) {
        std::error_code ignored;
        connection->socket.close(ignored);
    }
    connections_.clear();
}

} // namespace velm
