#include "transport/away/door/DoorListener.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <utility>

namespace velm {

namespace {

constexpr Log doorLog("door");

} // namespace

std::shared_ptr<DoorListener> DoorListener::make(std::shared_ptr<Queue> queue) {
    return std::shared_ptr<DoorListener>(new DoorListener(std::move(queue)));
}

DoorListener::DoorListener(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}

DoorListener::~DoorListener() {
    reopening_.cancel();
    for (auto& [peer, flow] : flows_) {
        flow.expiry.cancel();
    }
}

void DoorListener::open(std::optional<std::uint16_t> port) {
    queue_->post(whileAlive(shared_from_this(), [port](DoorListener& self) { self.openNow(port); }));
}

void DoorListener::close() {
    queue_->post(whileAlive(shared_from_this(), &DoorListener::closeNow));
}

void DoorListener::openNow(std::optional<std::uint16_t> port) {
    closeNow();
    // No address reuse: a socket bound with it would let another local socket bind
    // the same port and take knocks away. Replies are sent at once from the queue; a
    // full send buffer drops the reply rather than block the queue.
    std::optional<UdpSocket> socket = UdpSocket::bound({.port = port});
    const std::optional<SocketAddress> local = socket ? socket->localAddress() : std::nullopt;
    if (!local) {
        report(std::nullopt);
        return;
    }
    socket_ = std::move(socket);
    port_ = local->port;
    receive();
    report(local->port);
}

void DoorListener::closeNow() {
    ++generation_;
    reopening_.cancel();
    reopenings_ = 0;
    if (socket_) {
        socket_->close();
        socket_.reset();
    }
    forgetFlows();
}

void DoorListener::forgetFlows() {
    for (auto& [peer, flow] : flows_) {
        flow.expiry.cancel();
    }
    flows_.clear();
    arrivalOrder_.clear();
    heldReplies_.clear();
}

void DoorListener::report(std::optional<std::uint16_t> port) {
    if (onPort_) {
        onPort_(port);
    }
}

void DoorListener::receive() {
    socket_->receive(readSize, queue_,
                     whileAlive(shared_from_this(),
                                [generation = generation_](DoorListener& self, UdpSocket::Datagram datagram,
                                                           const std::optional<NetError>& error) {
                                    self.received(generation, datagram, error);
                                }));
}

void DoorListener::received(std::uint64_t generation, const UdpSocket::Datagram& datagram,
                            const std::optional<NetError>& error) {
    if (generation != generation_ || !socket_ || (error && error->kind == NetError::Kind::cancelled)) {
        return;
    }
    if (error) {
        failed(*error);
        return;
    }
    reopenings_ = 0;
    std::optional<Bytes> knock;
    if (datagram.bytes.size() == Door::knockLength) {
        knock = datagram.bytes;
    }
    take(datagram.sender, std::move(knock));
    receive();
}

// The failed socket is let go at once; its flows stay, and are answered through the socket that
// takes its place.
void DoorListener::failed(const NetError& error) {
    doorLog.error("door failed: %s", error.description.c_str());
    ++generation_;
    socket_->close();
    socket_.reset();
    reopenLater();
}

void DoorListener::reopenLater() {
    if (reopenings_ == reopenTries) {
        // No peer can be answered any more. The owner decides what becomes of a door that cannot listen.
        forgetFlows();
        report(std::nullopt);
        return;
    }
    ++reopenings_;
    reopening_ = queue_->postAfter(
        reopenPause, whileAlive(shared_from_this(), [generation = generation_](DoorListener& self) {
            if (generation == self.generation_) {
                self.reopen();
            }
        }));
}

void DoorListener::reopen() {
    std::optional<UdpSocket> socket = UdpSocket::bound({.port = port_});
    if (!socket) {
        reopenLater();
        return;
    }
    socket_ = std::move(socket);
    sendHeldReplies();
    receive();
}

void DoorListener::send(const SocketAddress& peer, Bytes reply) {
    if (socket_) {
        socket_->sendTo(reply, peer);
        return;
    }
    // The socket is being opened again: a peer that waits for this answer would otherwise wait for
    // its next knock.
    if (heldReplies_.size() == maxHeldReplies) {
        heldReplies_.pop_front();
    }
    heldReplies_.push_back({peer, std::move(reply)});
}

// A peer forgotten meanwhile is not answered, as a reply after its flow ended never is.
void DoorListener::sendHeldReplies() {
    std::deque<HeldReply> held = std::move(heldReplies_);
    heldReplies_.clear();
    for (HeldReply& reply : held) {
        if (flows_.contains(reply.peer)) {
            send(reply.peer, std::move(reply.bytes));
        }
    }
}

DoorListener::Flow& DoorListener::flowFor(const SocketAddress& peer) {
    if (const auto found = flows_.find(peer); found != flows_.end()) {
        return found->second;
    }
    if (flows_.size() >= maxFlows && !arrivalOrder_.empty()) {
        drop(arrivalOrder_.front());
    }
    const std::uint64_t serial = ++flowSerial_;
    Flow& flow = flows_[peer];
    flow.serial = serial;
    arrivalOrder_.push_back(peer);
    flow.expiry = queue_->postAfter(
        flowLifetime,
        whileAlive(shared_from_this(), [peer, serial](DoorListener& self) { self.expire(peer, serial); }));
    return flow;
}

void DoorListener::take(const SocketAddress& peer, std::optional<Bytes> datagram) {
    Flow& flow = flowFor(peer);
    if (!flow.offered) {
        offer(peer, flow, std::move(datagram));
    } else if (flow.waiting.size() < maxWaitingDatagrams) {
        flow.waiting.push_back(std::move(datagram));
    }
}

void DoorListener::offer(const SocketAddress& peer, Flow& flow, std::optional<Bytes> datagram) {
    if (!datagram || !onDatagram_) {
        drop(peer);
        return;
    }
    const std::uint64_t number = ++flow.offers;
    flow.offered = number;
    Reply reply = onQueueWhileAlive(
        queue_, shared_from_this(),
        [peer, serial = flow.serial, number](DoorListener& self, std::optional<Bytes> bytes) {
            self.answer(peer, serial, number, std::move(bytes));
        });
    // The handler may reach the flow table only through the queue, so `flow` is not
    // touched after this call.
    onDatagram_(std::move(*datagram), std::move(reply));
}

void DoorListener::answer(const SocketAddress& peer, std::uint64_t serial, std::uint64_t number,
                          std::optional<Bytes> reply) {
    const auto found = flows_.find(peer);
    if (found == flows_.end() || found->second.serial != serial || found->second.offered != number) {
        return;
    }
    if (!reply) {
        drop(peer);
        return;
    }
    send(peer, std::move(*reply));
    Flow& flow = found->second;
    flow.offered.reset();
    if (!flow.waiting.empty()) {
        std::optional<Bytes> next = std::move(flow.waiting.front());
        flow.waiting.pop_front();
        offer(peer, flow, std::move(next));
    }
}

void DoorListener::expire(const SocketAddress& peer, std::uint64_t serial) {
    const auto found = flows_.find(peer);
    if (found != flows_.end() && found->second.serial == serial) {
        drop(peer);
    }
}

void DoorListener::drop(const SocketAddress& peer) {
    const auto found = flows_.find(peer);
    if (found == flows_.end()) {
        return;
    }
    found->second.expiry.cancel();
    flows_.erase(found);
    std::erase(arrivalOrder_, peer);
}

} // namespace velm
