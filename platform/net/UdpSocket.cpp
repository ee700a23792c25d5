#include "platform/net/UdpSocket.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/AsioAddress.h"
#include "platform/net/TlsParameters.h"

#include <asio/buffer.hpp>
#include <asio/error.hpp>
#include <asio/ip/v6_only.hpp>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace velm {

namespace {

using Socket = asio::ip::udp::socket;

// The socket priority that goes with the interactive-video traffic class.
constexpr int interactiveVideoPriority = 5;

bool setOption(Socket& socket, int level, int name, int value) {
    return ::setsockopt(socket.native_handle(), level, name, &value, sizeof value) == 0;
}

asio::ip::udp protocolOf(IpAddress::Family family) {
    return family == IpAddress::Family::ipv4 ? asio::ip::udp::v4() : asio::ip::udp::v6();
}

std::unique_ptr<Socket> opened(IpAddress::Family family) {
    auto socket = std::make_unique<Socket>(IoPool::shared().context());
    std::error_code error;
    socket->open(protocolOf(family), error);
    if (!error) {
        socket->non_blocking(true, error);
    }
    return error ? nullptr : std::move(socket);
}

// IPv4 traffic through an IPv6 socket takes the IPv4 marking, so a socket for both families gets both.
bool markAsInteractiveVideo(Socket& socket, bool bothFamilies) {
    const int trafficClass = TlsParameters::interactiveVideoTrafficClass;
    return setOption(socket, IPPROTO_IP, IP_TOS, trafficClass) &&
           (!bothFamilies || setOption(socket, IPPROTO_IPV6, IPV6_TCLASS, trafficClass)) &&
           setOption(socket, SOL_SOCKET, SO_PRIORITY, interactiveVideoPriority);
}

bool bindAs(Socket& socket, const UdpSocket::Binding& binding, bool bothFamilies) {
    std::error_code error;
    if (bothFamilies) {
        socket.set_option(asio::ip::v6_only(false), error);
    }
    if (binding.reuseAddress && !error) {
        socket.set_option(asio::socket_base::reuse_address(true), error);
    }
    if (error || (binding.interactiveVideo && !markAsInteractiveVideo(socket, bothFamilies))) {
        return false;
    }
    const asio::ip::address any =
        bothFamilies ? asio::ip::address(asio::ip::address_v6::any()) : asio::ip::address_v4::any();
    socket.bind(asio::ip::udp::endpoint(any, binding.port.value_or(0)), error);
    return !error;
}

// One socket serving both families names an IPv4 peer by its mapped IPv6 address (::ffff:a.b.c.d),
// and is sent to through that address.
SocketAddress senderOf(const asio::ip::udp::endpoint& endpoint) {
    SocketAddress sender = fromAsio(endpoint);
    sender.address = sender.address.mappedIpv4().value_or(sender.address);
    return sender;
}

asio::ip::udp::endpoint destinationOf(const SocketAddress& peer, IpAddress::Family socketFamily) {
    asio::ip::udp::endpoint endpoint = toAsio(peer);
    if (peer.address.isIpv4() && socketFamily == IpAddress::Family::ipv6) {
        endpoint.address(asio::ip::make_address_v6(asio::ip::v4_mapped, endpoint.address().to_v4()));
    }
    return endpoint;
}

timespec timespecOf(UdpSocket::Clock::duration wait) {
    const auto nanoseconds = std::max(std::chrono::nanoseconds(0), std::chrono::nanoseconds(wait));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(nanoseconds);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((nanoseconds - seconds).count())};
}

} // namespace

std::optional<UdpSocket> UdpSocket::bound(const Binding& binding) {
    // Only a system without IPv6 falls back to IPv4 alone; a port taken on IPv6 is taken.
    if (auto socket = binding.bothFamilies ? opened(IpAddress::Family::ipv6) : nullptr) {
        if (!bindAs(*socket, binding, true)) {
            return std::nullopt;
        }
        return UdpSocket(std::move(socket), IpAddress::Family::ipv6);
    }
    auto socket = opened(IpAddress::Family::ipv4);
    if (!socket || !bindAs(*socket, binding, false)) {
        return std::nullopt;
    }
    return UdpSocket(std::move(socket), IpAddress::Family::ipv4);
}

std::optional<UdpSocket> UdpSocket::connected(const SocketAddress& peer) {
    auto socket = opened(peer.address.family());
    if (!socket) {
        return std::nullopt;
    }
    std::error_code error;
    socket->connect(toAsio(peer), error);
    if (error) {
        return std::nullopt;
    }
    return UdpSocket(std::move(socket), peer.address.family());
}

std::optional<UdpSocket> UdpSocket::plain(IpAddress::Family family) {
    auto socket = opened(family);
    if (!socket) {
        return std::nullopt;
    }
    return UdpSocket(std::move(socket), family);
}

UdpSocket::UdpSocket(std::unique_ptr<Socket> socket, IpAddress::Family family)
    : socket_(std::move(socket)), family_(family) {}
UdpSocket::UdpSocket(UdpSocket&&) noexcept = default;
UdpSocket& UdpSocket::operator=(UdpSocket&&) noexcept = default;
UdpSocket::~UdpSocket() = default;

std::optional<SocketAddress> UdpSocket::localAddress() const {
    std::error_code error;
    const auto local = socket_ ? socket_->local_endpoint(error) : asio::ip::udp::endpoint();
    if (!socket_ || error) {
        return std::nullopt;
    }
    return fromAsio(local);
}

// The count alone cannot tell: a failed send counts no bytes, as many as an empty datagram has.
bool UdpSocket::sendTo(ByteView datagram, const SocketAddress& peer) {
    if (!socket_) {
        return false;
    }
    std::error_code error;
    const std::size_t sent = socket_->send_to(asio::buffer(datagram.data(), datagram.size()),
                                              destinationOf(peer, family_), 0, error);
    return !error && sent == datagram.size();
}

bool UdpSocket::send(ByteView datagram) {
    if (!socket_) {
        return false;
    }
    std::error_code error;
    const std::size_t sent = socket_->send(asio::buffer(datagram.data(), datagram.size()), 0, error);
    return !error && sent == datagram.size();
}

void UdpSocket::receive(std::size_t maximum, std::shared_ptr<Queue> queue, ReceiveCompletion completion) {
    struct Read {
        Bytes bytes;
        asio::ip::udp::endpoint sender;
    };
    auto read = std::make_shared<Read>(Read{Bytes(maximum), {}});
    const auto deliver = [queue, completion = std::move(completion), read](const std::error_code& error,
                                                                           std::size_t size) {
        read->bytes.resize(error ? 0 : size);
        queue->post([completion, read, error] {
            std::optional<NetError> failure;
            if (error) {
                failure = NetError::fromSystem(error);
            }
            completion(Datagram{std::move(read->bytes), senderOf(read->sender)}, failure);
        });
    };
    // A closed socket would answer with a bad descriptor: for the caller, it is the same close.
    if (!socket_ || !socket_->is_open()) {
        deliver(asio::error::operation_aborted, 0);
        return;
    }
    socket_->async_receive_from(asio::buffer(read->bytes), read->sender, deliver);
}

std::optional<UdpSocket::Datagram> UdpSocket::receiveWithin(std::size_t maximum, Clock::duration wait) {
    if (!socket_) {
        return std::nullopt;
    }
    pollfd readable{socket_->native_handle(), POLLIN, 0};
    const timespec limit = timespecOf(wait);
    if (::ppoll(&readable, 1, &limit, nullptr) != 1) {
        return std::nullopt;
    }
    Datagram datagram{Bytes(maximum), {}};
    asio::ip::udp::endpoint sender;
    std::error_code error;
    const std::size_t size = socket_->receive_from(asio::buffer(datagram.bytes), sender, 0, error);
    if (error) {
        return std::nullopt;
    }
    datagram.bytes.resize(size);
    datagram.sender = senderOf(sender);
    return datagram;
}

void UdpSocket::close() {
    if (socket_) {
        std::error_code ignored;
        socket_->close(ignored);
    }
}

} // namespace velm
