#include "transport/client/away/DoorClient.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/net/AddressLookup.h"

#include <algorithm>
#include <utility>

namespace velm {

std::shared_ptr<DoorClient> DoorClient::knock(std::string address, SecretBytes deviceKey,
                                              std::optional<std::uint16_t> doorPort,
                                              std::shared_ptr<Queue> queue, Completion completion) {
    std::shared_ptr<DoorClient> client(new DoorClient(std::move(address), std::move(deviceKey), doorPort,
                                                      std::move(queue), std::move(completion)));
    client->queue_->post(whileAlive(client, &DoorClient::start));
    return client;
}

DoorClient::DoorClient(std::string address, SecretBytes deviceKey, std::optional<std::uint16_t> doorPort,
                       std::shared_ptr<Queue> queue, Completion completion)
    : address_(std::move(address)), doorPort_(doorPort), knocker_(deviceKey), queue_(std::move(queue)),
      completion_(std::move(completion)) {}

DoorClient::~DoorClient() {
    for (const WorkItem& timer : timers_) {
        timer.cancel();
    }
}

void DoorClient::cancel() {
    queue_->post(whileAlive(shared_from_this(), [](DoorClient& self) {
        self.completion_ = nullptr;
        self.tearDown();
    }));
}

void DoorClient::start() {
    if (!completion_) {
        return;
    }
    windows_ = Door::acceptedEpochs(Date::now());
    timers_.push_back(queue_->postAfter(giveUp, whileAlive(shared_from_this(), [](DoorClient& self) {
                                            if (self.completion_) {
                                                self.finish(NoAnswer{});
                                            }
                                        })));
    if (const std::optional<IpAddress> literal = IpAddress::parse(address_)) {
        connect(*literal);
        return;
    }
    AddressLookup::lookup(address_, queue_, whileAlive(shared_from_this(), &DoorClient::resolved));
}

void DoorClient::resolved(const std::vector<IpAddress>& addresses) {
    if (!completion_ || addresses.empty()) {
        return;
    }
    // The door listens on IPv4, so an IPv4 address of the name is tried first.
    const auto ipv4 = std::find_if(addresses.begin(), addresses.end(),
                                   [](const IpAddress& address) { return address.isIpv4(); });
    connect(ipv4 != addresses.end() ? *ipv4 : addresses.front());
}

void DoorClient::connect(const IpAddress& address) {
    for (const std::uint64_t window : windows_) {
        const std::uint16_t port = doorPort_.value_or(Door::doorPort(knocker_.deviceKey(), window));
        if (port == 0) {
            continue;
        }
        std::optional<UdpSocket> socket = UdpSocket::connected({address, port});
        // A connection that cannot be made sends nothing; the others still knock.
        if (!socket) {
            continue;
        }
        const std::size_t index = connections_.size();
        connections_.push_back(std::make_unique<Connection>(Connection{window, std::move(*socket)}));
        receive(index);
        for (const auto delay : sendTimes) {
            timers_.push_back(queue_->postAfter(
                delay, whileAlive(shared_from_this(), [index](DoorClient& self) { self.send(index); })));
        }
    }
}

void DoorClient::send(std::size_t connection) {
    if (!completion_ || connection >= connections_.size()) {
        return;
    }
    Connection& target = *connections_[connection];
    // Stamped with the time of sending, so a late resend is still within the host's clock window.
    if (const std::optional<Bytes> knock = knocker_.knock(target.window, Date::now())) {
        target.socket.send(*knock);
    }
}

void DoorClient::receive(std::size_t connection) {
    connections_[connection]->socket.receive(
        readSize, queue_,
        whileAlive(shared_from_this(), [connection](DoorClient& self, UdpSocket::Datagram datagram,
                                                    const std::optional<NetError>& error) {
            self.received(connection, datagram, error);
        }));
}

void DoorClient::received(std::size_t connection, const UdpSocket::Datagram& datagram,
                          const std::optional<NetError>& error) {
    if (!completion_ || connection >= connections_.size() ||
        (error && error->kind == NetError::Kind::cancelled)) {
        return;
    }
    // A connected UDP socket reports an ICMP error for an earlier knock (a window whose
    // port is not open yet, a router that lost a mapping) on its next receive: that is
    // no reason to stop listening for the reply to a later knock.
    const bool icmpReport =
        error && (error->kind == NetError::Kind::refused || error->kind == NetError::Kind::unreachable);
    if (error && !icmpReport) {
        return;
    }
    if (!error) {
        const std::optional<Door::Answer> answer = Door::Reply::open(datagram.bytes, knocker_);
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
    for (const auto& connection : connections_) {
        connection->socket.close();
    }
    connections_.clear();
}

} // namespace velm
