#include "tests/support/HeldRelay.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace velm::test {
namespace {

constexpr int pollMilliseconds = 20;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

HeldRelay::HeldRelay(std::uint16_t serverPort, std::size_t passed)
    : serverPort_(serverPort), passed_(passed) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("relay cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

HeldRelay::~HeldRelay() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

void HeldRelay::run() {
    pollfd waiting{.fd = listener_, .events = POLLIN, .revents = 0};
    while (!stopping_ && ::poll(&waiting, 1, pollMilliseconds) <= 0) {
    }
    if (stopping_) {
        return;
    }
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int segment = 536;
    const int window = 4096;
    ::setsockopt(server, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    ::setsockopt(server, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    const sockaddr_in address = loopback(serverPort_);
    if (client >= 0 && server >= 0 &&
        ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        while (!stopping_ && relay(client, server)) {
        }
    }
    ::close(client);
    ::close(server);
}

// One round of passing on; false once either side closed.
bool HeldRelay::relay(int client, int server) {
    const bool held = !released_ && fromServer_ >= passed_;
    pollfd sides[2] = {{.fd = client, .events = POLLIN, .revents = 0},
                       {.fd = server, .events = static_cast<short>(held ? 0 : POLLIN), .revents = 0}};
    if (::poll(sides, 2, pollMilliseconds) <= 0) {
        return true;
    }
    char buffer[16384];
    if (sides[0].revents != 0) {
        const ssize_t read = ::recv(client, buffer, sizeof buffer, 0);
        if (read <= 0 || !writeAll(server, buffer, static_cast<std::size_t>(read))) {
            return false;
        }
    }
    if (sides[1].revents != 0) {
        const std::size_t room = released_ ? sizeof buffer : std::min(sizeof buffer, passed_ - fromServer_);
        const ssize_t read = ::recv(server, buffer, room, 0);
        if (read <= 0 || !writeAll(client, buffer, static_cast<std::size_t>(read))) {
            return false;
        }
        fromServer_ += static_cast<std::size_t>(read);
    }
    return true;
}

} // namespace velm::test
