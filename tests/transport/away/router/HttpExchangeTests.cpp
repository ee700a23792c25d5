#include "tests/support/EventLog.h"
#include "tests/support/FakeGateway.h"
#include "transport/away/router/HttpExchange.h"
#include "transport/away/router/RouterRequest.h"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>
#include <optional>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::FakeGateway;

class HttpExchangeTest : public ::testing::Test {
protected:
    // Runs one exchange and waits for its result.
    PortMapperResult<HttpResponse> exchange(const std::string& request, HttpExchange::Clock::duration timeout,
                                            std::size_t sizeLimit = 64 * 1024, std::uint16_t port = 0) {
        auto results = std::make_shared<test::EventLog<PortMapperResult<HttpResponse>>>();
        HttpExchange::start("127.0.0.1", port ? port : gateway.httpPort(), request, timeout, sizeLimit,
                            [results](PortMapperResult<HttpResponse> result) { results->push(result); });
        EXPECT_TRUE(results->waitForCount(1));
        const auto values = results->values();
        EXPECT_EQ(values.size(), 1u) << "an exchange finishes exactly once";
        return values.empty() ? PortMapperFailure::badResponse() : values.front();
    }

    std::string soap(const std::string& action) {
        const PortMapperGateway target{"127.0.0.1", gateway.httpPort(), "/ctl/IPConn",
                                       "urn:schemas-upnp-org:service:WANIPConnection:1", "127.0.0.1"};
        return RouterRequest::soap(action, {}, target);
    }

    FakeGateway gateway;
};

// Content-Length and chunked replies are followed by an open connection: only their framing can end
// them before the hour is up. A stalled or flooding router is covered where the port mapper drops it.
TEST_F(HttpExchangeTest, RepliesEndByTheirFramingAndAreParsedAsTheyStandOrRefused) {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string cutShort = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc";
    const struct {
        std::string text;
        bool holdOpen;
        HttpExchange::Clock::duration timeout;
        std::optional<std::pair<int, std::string>> expected;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", true, 1h, {{200, "hello"}}},
        {chunked + "3;x=1\r\nhel\r\n2\r\nlo\r\n0\r\n\r\n", true, 1h, {{200, "hello"}}},
        {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nhello", false, 1h, {{200, "hello"}}},
        // A fault keeps its status: the caller reads the error code from the body.
        {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\nfault", false, 1h, {{500, "fault"}}},
        {cutShort, true, 1s, {{200, "abc"}}},  // ended by the time limit
        {cutShort, false, 1h, {{200, "abc"}}}, // ended by the close
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n", false, 1h, std::nullopt},
        {"HTTP/1.1\r\n\r\n", false, 1h, std::nullopt},
        {"", false, 1h, std::nullopt},
    };
    int index = 0;
    for (const auto& [text, holdOpen, timeout, expected] : cases) {
        SCOPED_TRACE(text);
        const std::string action = "Action" + std::to_string(++index);
        gateway.script(action, {text, holdOpen});
        const auto result = exchange(soap(action), timeout);
        if (!expected) {
            EXPECT_EQ(result.failure(), PortMapperFailure::badResponse());
            continue;
        }
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(std::make_pair(result.value().status, toString(result.value().body)), *expected);
    }
}

TEST_F(HttpExchangeTest, RefusedConnectionIsANetworkError) {
    asio::io_context io;
    const std::uint16_t closedPort =
        asio::ip::tcp::acceptor(io, {asio::ip::make_address_v4("127.0.0.1"), 0}).local_endpoint().port();
    EXPECT_EQ(exchange(soap("A"), 1h, 64 * 1024, closedPort).failure(),
              PortMapperFailure::network(asio::error::connection_refused));
}

} // namespace
} // namespace velm
