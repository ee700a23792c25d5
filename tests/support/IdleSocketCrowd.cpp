#include "tests/support/IdleSocketCrowd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velm::test {

namespace {

// How often sockets that could not be opened are tried again; a socket that closes is opened
// again at once.
constexpr int retryMilliseconds = 10;

} // namespace

IdleSocketCrowd::IdleSocketCrowd(std::uint16_t port, const std::vector<std::string>& sources,
                                 std::size_t perSource, std::size_t mostOpenings)
    : port_(port), mostOpenings_(mostOpenings) {
    for (const auto& source : sources) {
        for (std::size_t i = 0; i < perSource; ++i) {
            members_.push_back({source});
        }
    }
    for (auto& member : members_) {
        open(member);
    }
    thread_ = std::thread([this] { run(); });
}

IdleSocketCrowd::~IdleSocketCrowd() {
    stopping_ = true;
    thread_.join();
    for (const auto& member : members_) {
        if (member.fd >= 0) {
            ::close(member.fd);
        }
    }
}

std::vector<std::string> IdleSocketCrowd::loopbackSources(std::size_t count) {
    std::vector<std::string> sources;
    for (std::size_t i = 0; i < count; ++i) {
        sources.push_back("127.0.0." + std::to_string(i + 2));
    }
    return sources;
}

// Non-blocking throughout: a listener that stops accepting must not hold the crowd in a connect.
void IdleSocketCrowd::open(Member& member) {
    if (isSpent()) {
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return;
    }
    // The port is chosen at connect, for the whole address pair: thousands of reopenings from one
    // address would run out of ports bound on their own.
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &yes, sizeof yes);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::inet_pton(AF_INET, member.source.c_str(), &from.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
        (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
        ::close(fd);
        return;
    }
    member.fd = fd;
    ++opened_;
}

void IdleSocketCrowd::run() {
    std::vector<pollfd> watched;
    std::vector<Member*> owners;
    while (!stopping_) {
        watched.clear();
        owners.clear();
        for (auto& member : members_) {
            if (member.fd < 0) {
                open(member);
            }
            if (member.fd >= 0) {
                watched.push_back({member.fd, POLLIN | POLLRDHUP, 0});
                owners.push_back(&member);
            }
        }
        if (::poll(watched.data(), watched.size(), retryMilliseconds) <= 0) {
            continue;
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            // The crowd never sends, so anything readable is the far end's close (or its alert).
            if (watched[i].revents != 0) {
                ::close(owners[i]->fd);
                owners[i]->fd = -1;
                open(*owners[i]);
            }
        }
    }
}

} // namespace velm::test
