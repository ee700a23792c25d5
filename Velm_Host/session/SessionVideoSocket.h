#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/net/SocketAddress.h"
#include "platform/net/UdpSocket.h"
#include "transport/keys/PacketOpener.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace velm {

class Queue;

// The UDP port of one session's video path, as far as the host has one yet: it sends no video. It binds
// an ephemeral port with address reuse and the interactive-video traffic class, and adopts the client's
// flow from the first datagram that opens under the session's video key (sealed client to host) and
// whose plaintext begins with the session token. From then on it belongs to that flow: the flow's later
// datagrams are taken in and dropped, and datagrams from anywhere else are not even opened.
//
// Everything runs on the queue given to open(), where the adoption is reported.
class SessionVideoSocket : public std::enable_shared_from_this<SessionVideoSocket> {
public:
    // Larger datagrams are cut to this and then fail to open.
    static constexpr std::size_t maxDatagramSize = 2048;

    // Nothing when no port could be bound.
    static std::shared_ptr<SessionVideoSocket> open(SecretBytes videoKey, SecretBytes sessionToken,
                                                    std::shared_ptr<Queue> queue);

    SessionVideoSocket(const SessionVideoSocket&) = delete;
    SessionVideoSocket& operator=(const SessionVideoSocket&) = delete;

    // Set before start.
    void setOnFlowAdopted(std::function<void(SocketAddress client)> handler);
    // Starts receiving. Call once, on the queue.
    void start();
    // Closes the port and forgets the key and the token; nothing is reported afterwards. On the queue.
    void close();

    std::uint16_t port() const { return port_; }
    // The adopted flow, on the queue.
    const std::optional<SocketAddress>& flow() const { return flow_; }

private:
    SessionVideoSocket(UdpSocket socket, std::uint16_t port, SecretBytes videoKey, SecretBytes sessionToken,
                       std::shared_ptr<Queue> queue);

    void receiveNext();
    void received(const UdpSocket::Datagram& datagram, const std::optional<NetError>& error);
    bool opensWithToken(ByteView datagram);

    const std::shared_ptr<Queue> queue_;
    const std::uint16_t port_;

    // Touched on the queue only.
    SecretBytes sessionToken_;
    UdpSocket socket_;
    PacketOpener opener_;
    std::optional<SocketAddress> flow_;
    std::function<void(SocketAddress)> onFlowAdopted_;
    bool closed_ = false;
};

} // namespace velm
