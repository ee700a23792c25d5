#pragma once

#include <optional>

namespace velm {

// An IPv4 UDP socket that is closed on every path out of its scope.
class UdpSocket {
public:
    static std::optional<UdpSocket> open();

    UdpSocket(UdpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UdpSocket& operator=(UdpSocket&&) = delete;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    ~UdpSocket();

    int fd() const { return fd_; }

private:
    explicit UdpSocket(int fd) : fd_(fd) {}

    int fd_;
};

} // namespace velm
