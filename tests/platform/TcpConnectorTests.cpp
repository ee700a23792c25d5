#include "platform/dispatch/IoPool.h"
#include "platform/net/TcpConnector.h"

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velm {
namespace {

using asio::ip::tcp;

// A loopback listening socket with a backlog of `backlog`.
struct Listener {
    explicit Listener(int backlog) : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(fd, backlog), 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd); }

    int fd;
    sockaddr_in address{
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    std::uint16_t port = 0;
};

// A loopback port where nothing listens: bound, so that nothing else takes it meanwhile.
struct ClosedPort {
    Listener bound{0};
    ClosedPort() { ::shutdown(bound.fd, SHUT_RDWR); }
};

tcp::resolver::results_type loopbackPorts(std::initializer_list<std::uint16_t> ports) {
    std::vector<tcp::endpoint> endpoints;
    for (const std::uint16_t port : ports) {
        endpoints.emplace_back(asio::ip::make_address_v4("127.0.0.1"), port);
    }
    return tcp::resolver::results_type::create(endpoints.begin(), endpoints.end(), "127.0.0.1", "");
}

class TcpConnectorTest : public ::testing::Test {
protected:
    // Connects and waits; the outcome, and whether it came within the call.
    std::pair<std::error_code, bool> connect(const tcp::resolver::results_type& addresses) {
        // Shared, not on this frame: the strand marks the call as returned after a completion
        // within it may already have let this function return.
        struct Call {
            bool returned = false;
            std::promise<std::pair<std::error_code, bool>> outcome;
        };
        auto call = std::make_shared<Call>();
        auto future = call->outcome.get_future();
        asio::dispatch(socket.get_executor(), [this, addresses, call] {
            TcpConnector::connect(socket, addresses, [call](const std::error_code& error) {
                call->outcome.set_value({error, !call->returned});
            });
            call->returned = true;
        });
        EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return future.get();
    }

    TcpConnector::Socket socket{asio::make_strand(IoPool::shared().context())};
};

TEST_F(TcpConnectorTest, TriesTheAddressesInOrderAndReportsTheLastFailure) {
    Listener listener(8);
    ClosedPort closed;
    const auto [error, within] = connect(loopbackPorts({closed.bound.port, listener.port}));
    ASSERT_FALSE(error) << error.message();
    EXPECT_TRUE(within); // loopback connects before connect() returns
    EXPECT_EQ(socket.remote_endpoint().port(), listener.port);

    ClosedPort other;
    EXPECT_EQ(connect(loopbackPorts({closed.bound.port, other.bound.port})).first,
              asio::error::connection_refused);
    EXPECT_EQ(connect(loopbackPorts({})).first, asio::error::host_not_found);
}

TEST_F(TcpConnectorTest, WaitsForAConnectionThatIsStillBeingMade) {
    // A full accept queue drops new handshakes, so the connection stays in progress
    // until a queued one is taken and the client's SYN is retried (after a second).
    Listener listener(0);
    const int queued = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(queued, reinterpret_cast<sockaddr*>(&listener.address), sizeof listener.address), 0);

    auto taker = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int taken = ::accept(listener.fd, nullptr, nullptr);
        ::close(taken);
    });
    const auto [error, within] = connect(loopbackPorts({listener.port}));
    taker.wait();
    ::close(queued);
    ASSERT_FALSE(error) << error.message();
    EXPECT_FALSE(within);
    EXPECT_EQ(socket.remote_endpoint().port(), listener.port);
}

} // namespace
} // namespace velm
