#include "transport/away/door/DoorListener.h"

#include "platform/dispatch/IoPool.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <asio/buffer.hpp>
#include <asio/error.hpp>
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
    for (auto& [peer, flow] : flows_) {
        flow.expiry.cancel();
    }
}

void DoorListener::open(std::optional<std::uint16_t> port) {
    queue_->post([weak = weak_from_this(), port] {
        if (const auto self = weak.lock()) {
            self->openNow(port);
        }
    });
}

void DoorListener::close() {
    queue_->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->closeNow();
        }
    });
}

void DoorListener::openNow(std::optional<std::uint16_t> port) {
    closeNow();
    // No address reuse: a socket bound with it would let another local socket bind
    // the same port and take knocks away.
    asio::ip::udp::socket socket(IoPool::shared().context());
    std::error_code error;
    socket.open(asio::ip::udp::v4(), error);
    if (!error) {
        // Replies are sent at once from the queue; a full send buffer drops the reply
        // rather than block the queue, as the network may drop it anyway.
        socket.non_blocking(true, error);
    }
    if (!error) {
        socket.bind(Endpoint(asio::ip::address_v4::any(), port.value_or(0)), error);
    }
    const Endpoint local = error ? Endpoint() : socket.local_endpoint(error);
    if (error) {
        if (onPort) {
            onPort(std::nullopt);
        }
        return;
    }
    socket_.emplace(std::move(socket));
    receive();
    if (onPort) {
        onPort(local.port());
    }
}

void DoorListener::closeNow() {
    ++generation_;
    if (socket_) {
        std::error_code ignored;
        socket_->close(ignored);
        socket_.reset();
    }
    for (auto& [peer, flow] : flows_) {
        flow.expiry.cancel();
    }
    flows_.clear();
    arrivalOrder_.clear();
}

void DoorListener::receive() {
    auto read = std::make_shared<Receive>();
    socket_->async_receive_from(asio::buffer(read->buffer), read->sender,
                                [weak = weak_from_this(), queue = queue_, generation = generation_,
                                 read](const std::error_code& error, std::size_t size) {
                                    queue->post([weak, generation, read, error, size] {
                                        if (const auto self = weak.lock()) {
                                            self->received(generation, error, *read, size);
                                        }
                                    });
                                });
}

void DoorListener::received(std::uint64_t generation, const std::error_code& error, const Receive& read,
                            std::size_t size) {
    if (generation != generation_ || !socket_ || error == asio::error::operation_aborted) {
        return;
    }
    if (error) {
        // The owner decides what becomes of a door that fails; it stays open, unread.
        doorLog.error("door failed: %s", error.message().c_str());
        if (onPort) {
            onPort(std::nullopt);
        }
        return;
    }
    std::optional<Bytes> datagram;
    if (size == Door::knockLength) {
        datagram.emplace(read.buffer.begin(), read.buffer.begin() + Door::knockLength);
    }
    take(read.sender, std::move(datagram));
    receive();
}

DoorListener::Flow& DoorListener::flowFor(const Endpoint& peer) {
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
    flow.expiry = queue_->postAfter(flowLifetime, [weak = weak_from_this(), peer, serial] {
        if (const auto self = weak.lock()) {
            self->expire(peer, serial);
        }
    });
    return flow;
}

void DoorListener::take(const Endpoint& peer, std::optional<Bytes> datagram) {
    Flow& flow = flowFor(peer);
    if (!flow.offered) {
        offer(peer, flow, std::move(datagram));
    } else if (flow.waiting.size() < maxWaitingDatagrams) {
        flow.waiting.push_back(std::move(datagram));
    }
}

void DoorListener::offer(const Endpoint& peer, Flow& flow, std::optional<Bytes> datagram) {
    if (!datagram || !onDatagram) {
        drop(peer);
        return;
    }
    const std::uint64_t number = ++flow.offers;
    flow.offered = number;
    Reply reply = [weak = weak_from_this(), queue = queue_, peer, serial = flow.serial,
                   number](std::optional<Bytes> bytes) {
        queue->post([weak, peer, serial, number, bytes = std::move(bytes)]() mutable {
            if (const auto self = weak.lock()) {
                self->answer(peer, serial, number, std::move(bytes));
            }
        });
    };
    // The handler may reach the flow table only through the queue, so `flow` is not
    // touched after this call.
    onDatagram(std::move(*datagram), std::move(reply));
}

void DoorListener::answer(const Endpoint& peer, std::uint64_t serial, std::uint64_t number,
                          std::optional<Bytes> reply) {
    const auto found = flows_.find(peer);
    if (found == flows_.end() || found->second.serial != serial || found->second.offered != number ||
        !socket_) {
        return;
    }
    if (!reply) {
        drop(peer);
        return;
    }
    std::error_code ignored;
    socket_->send_to(asio::buffer(*reply), peer, 0, ignored);
    Flow& flow = found->second;
    flow.offered.reset();
    if (!flow.waiting.empty()) {
        std::optional<Bytes> next = std::move(flow.waiting.front());
        flow.waiting.pop_front();
        offer(peer, flow, std::move(next));
    }
}

void DoorListener::expire(const Endpoint& peer, std::uint64_t serial) {
    const auto found = flows_.find(peer);
    if (found != flows_.end() && found->second.serial == serial) {
        drop(peer);
    }
}

void DoorListener::drop(const Endpoint& peer) {
    const auto found = flows_.find(peer);
    if (found == flows_.end()) {
        return;
    }
    found->second.expiry.cancel();
    flows_.erase(found);
    std::erase(arrivalOrder_, peer);
}

} // namespace velm
