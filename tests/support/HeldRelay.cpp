#include "tests/support/HeldRelay.h"

#include <algorithm>
#include <poll.h>
#include <sys/socket.h>

namespace velm::test {
namespace {

constexpr int pollMilliseconds = 20;

} // namespace

HeldRelay::HeldRelay(std::uint16_t serverPort, std::size_t passed)
    : serverPort_(serverPort), passed_(passed), thread_([this] { run(); }) {}

HeldRelay::~HeldRelay() {
    stopping_ = true;
    thread_.join();
}

void HeldRelay::run() {
    const auto client = listener_.accept();
    const auto server = client ? RawSocket::connectThroughSmallWindow(serverPort_) : nullptr;
    while (server && !stopping_ && relay(*client, *server)) {
    }
}

bool HeldRelay::relay(RawSocket& client, RawSocket& server) {
    const bool held = !released_ && fromServer_ >= passed_;
    pollfd sides[2] = {{.fd = client.fd(), .events = POLLIN, .revents = 0},
                       {.fd = server.fd(), .events = static_cast<short>(held ? 0 : POLLIN), .revents = 0}};
    if (::poll(sides, 2, pollMilliseconds) <= 0) {
        return true;
    }
    std::uint8_t buffer[16384];
    if (sides[0].revents != 0) {
        const ssize_t read = ::recv(client.fd(), buffer, sizeof buffer, 0);
        if (read <= 0 || !server.sendAll(ByteView(buffer, static_cast<std::size_t>(read)))) {
            return false;
        }
    }
    if (sides[1].revents != 0) {
        const std::size_t room = released_ ? sizeof buffer : std::min(sizeof buffer, passed_ - fromServer_);
        const ssize_t read = ::recv(server.fd(), buffer, room, 0);
        if (read <= 0 || !client.sendAll(ByteView(buffer, static_cast<std::size_t>(read)))) {
            return false;
        }
        fromServer_ += static_cast<std::size_t>(read);
    }
    return true;
}

} // namespace velm::test
