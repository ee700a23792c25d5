#include "platform/net/UdpSocket.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/AsioAddress.h"
#include "platform/net/TlsParameters.h"

#include <asio/buffer.hpp>
#include <asio/error.hpp>
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

bool bindAs(Socket& socket, const UdpSocket::Binding& binding) {
    std::error_code error;
    if (binding.reuseAddress) {
        socket.set_option(asio::socket_base::reuse_address(true), error);
        if (error) {
            return false;
        }
    }
    if (binding.interactiveVideo &&
        !(setOption(socket, IPPROTO_IP, IP_TOS, TlsParameters::interactiveVideoTrafficClass) &&
          setOption(socket, SOL_SOCKET, SO_PRIORITY, interactiveVideoPriority))) {
        return false;
    }
    socket.bind(asio::ip::udp::endpoint(asio::ip::address_v4::any(), binding.port.value_or(0)), error);
    return !error;
}

timespec timespecOf(UdpSocket::Clock::duration wait) {
    const auto nanoseconds = std::max(std::chrono::nanoseconds(0), std::chrono::nanoseconds(wait));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(nanoseconds);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((nanoseconds - seconds).count())};
}

} // namespace

std::optional<UdpSocket> UdpSocket::bound(const Binding& binding) {
    auto socket = opened(IpAddress::Family::ipv4);
    if (!socket || !bindAs(*socket, binding)) {
        return std::nullopt;
    }
    return UdpSocket(std::move(socket));
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
    return UdpSocket(std::move(socket));
}

std::optional<UdpSocket> UdpSocket::plain(IpAddress::Family family) {
    auto socket = opened(family);
    if (!socket) {
        return std::nullopt;
    }
    return UdpSocket(std::move(socket));
}

UdpSocket::UdpSocket(std::unique_ptr<Socket> socket) : socket_(std::move(socket)) {}
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
    const std::size_t sent =
        socket_->send_to(asio::buffer(datagram.data(), datagram.size()), toAsio(peer), 0, error);
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
            completion(Datagram{std::move(read->bytes), fromAsio(read->sender)}, failure);
        });
    };
    if (!socket_) {
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
    datagram.sender = fromAsio(sender);
    return datagram;
}

void UdpSocket::close() {
    if (socket_) {
        std::error_code ignored;
        socket_->close(ignored);
    }
}

} // namespace velm
