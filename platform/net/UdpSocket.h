#pragma once

#include "platform/core/Bytes.h"
#include "platform/net/IpAddress.h"
#include "platform/net/NetError.h"
#include "platform/net/SocketAddress.h"

#include <asio/ip/udp.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace velm {

class Queue;

// One UDP socket, closed on every path out of its owner. Every operation that sends or
// receives at once is non-blocking: a datagram that cannot be handed to the system right
// away is dropped, as the network may drop it anyway.
//
// A peer over IPv4 is named by its IPv4 address, also on a socket that serves IPv6.
//
// A socket is made bound (a local port, to receive from anyone and answer each), connected
// (one peer, whose ICMP reports come back as receive errors) or plain (to send to any
// address and read the answers). Its asynchronous receives run on the process's I/O pool
// and complete on the queue the caller names.
class UdpSocket {
public:
    using Clock = std::chrono::steady_clock;

    struct Datagram {
        // At most the maximum asked for: a longer datagram is cut to it.
        Bytes bytes;
        SocketAddress sender;
    };
    // With an error the datagram is empty. `cancelled` means the socket was closed; refused
    // or unreachable on a connected socket is the ICMP report of an earlier send.
    using ReceiveCompletion = std::function<void(Datagram datagram, const std::optional<NetError>& error)>;

    struct Binding {
        // Any free port when absent.
        std::optional<std::uint16_t> port;
        // Off, no other socket can bind the port and take datagrams meant for this one.
        bool reuseAddress = false;
        // Marks what it sends with the interactive-video traffic class (DSCP AF41) and the
        // matching socket priority, so queues on the way and on this machine favour it.
        bool interactiveVideo = false;
        // Also IPv6, on the same port: a peer that reached this host over IPv6 sends there. Off, or
        // where the system has no IPv6, IPv4 alone.
        bool bothFamilies = false;
    };

    // A socket bound to every local address.
    static std::optional<UdpSocket> bound(const Binding& binding);
    // A socket of the peer's family that exchanges datagrams with that peer alone.
    static std::optional<UdpSocket> connected(const SocketAddress& peer);
    // A socket of `family`, bound on its first send.
    static std::optional<UdpSocket> plain(IpAddress::Family family);

    UdpSocket(UdpSocket&&) noexcept;
    UdpSocket& operator=(UdpSocket&&) noexcept;
    ~UdpSocket();

    // Where the socket is bound: the port given, or the one the system chose.
    std::optional<SocketAddress> localAddress() const;

    // True when the datagram was handed to the system.
    bool sendTo(ByteView datagram, const SocketAddress& peer);
    // To the peer of a connected socket.
    bool send(ByteView datagram);

    // Completes on `queue` with the next datagram of at most `maximum` bytes, or the error that
    // ended the wait. One receive at a time; the completion runs even when the socket closes.
    void receive(std::size_t maximum, std::shared_ptr<Queue> queue, ReceiveCompletion completion);
    // Waits at most `wait` for the next datagram on the calling thread; nothing when none came.
    std::optional<Datagram> receiveWithin(std::size_t maximum, Clock::duration wait);

    // Ends a pending receive, and any asked for later, with `cancelled`. Further calls do nothing.
    void close();

private:
    UdpSocket(std::unique_ptr<asio::ip::udp::socket> socket, IpAddress::Family family);

    std::unique_ptr<asio::ip::udp::socket> socket_;
    IpAddress::Family family_;
};

} // namespace velm
