#pragma once

// Loopback helpers for the door listener and door client tests.

#include "platform/core/Bytes.h"
#include "tests/support/Pump.h"

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <poll.h>

namespace velm::test {

// Bounds every wait for something to come over loopback; reaching it is a failure, never a measurement.
inline constexpr std::chrono::seconds patience{10};

// A plain UDP socket on 127.0.0.1 standing in for a peer.
class LoopbackPeer {
public:
    explicit LoopbackPeer(std::uint16_t port = 0)
        : socket_(io_, asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), port)) {}

    std::uint16_t port() const { return socket_.local_endpoint().port(); }

    void sendTo(std::uint16_t port, ByteView bytes) {
        socket_.send_to(asio::buffer(bytes.data(), bytes.size()),
                        asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), port));
    }

    // The next datagram, waiting at most `wait` for it.
    std::optional<Bytes> receive(std::chrono::milliseconds wait = patience) {
        pollfd descriptor{socket_.native_handle(), POLLIN, 0};
        if (::poll(&descriptor, 1, static_cast<int>(wait.count())) != 1) {
            return std::nullopt;
        }
        Bytes buffer(65536);
        asio::ip::udp::endpoint sender;
        const std::size_t size = socket_.receive_from(asio::buffer(buffer), sender);
        lastSender_ = sender;
        buffer.resize(size);
        return buffer;
    }

    // A datagram already here, without waiting.
    std::optional<Bytes> pending() { return receive(std::chrono::milliseconds(0)); }

    // Where the last received datagram came from.
    const asio::ip::udp::endpoint& lastSender() const { return lastSender_; }

private:
    asio::io_context io_;
    asio::ip::udp::socket socket_;
    asio::ip::udp::endpoint lastSender_;
};

} // namespace velm::test
