#include "transport/away/HttpExchange.h"
#include "transport/away/RouterRequest.h"
#include "transport/away/TagScanner.h"

#include "tests/support/FakeGateway.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <thread>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::FakeGateway;

// Runs exchanges on an io_context of its own and waits for their outcome.
class HttpExchangeTest : public ::testing::Test {
protected:
    HttpExchangeTest() : work(io.get_executor()), thread([this] { io.run(); }) {}
    ~HttpExchangeTest() override {
        work.reset();
        io.stop();
        thread.join();
    }

    PortMapperResult<HttpResponse> exchange(const std::string& request, HttpExchange::Clock::duration timeout,
                                            std::size_t sizeLimit = 64 * 1024, std::uint16_t port = 0) {
        std::promise<PortMapperResult<HttpResponse>> outcome;
        auto future = outcome.get_future();
        int calls = 0;
        HttpExchange::start(io.get_executor(), "127.0.0.1", port ? port : gateway.httpPort(), request, timeout,
                            sizeLimit, [&](PortMapperResult<HttpResponse> result) {
                                if (++calls == 1) {
                                    outcome.set_value(std::move(result));
                                }
                            });
        // A guard against a hang, not a measure of speed.
        if (future.wait_for(60s) != std::future_status::ready) {
            ADD_FAILURE() << "the exchange never finished";
            return PortMapperFailure::badResponse();
        }
        auto result = future.get();
        // Let late handlers run, then make sure none of them finished twice.
        std::promise<void> drained;
        asio::post(io, [&] { drained.set_value(); });
        drained.get_future().wait();
        EXPECT_EQ(calls, 1);
        return result;
    }

    std::string soap(const std::string& action) {
        const PortMapperGateway target{"127.0.0.1", gateway.httpPort(), "/ctl/IPConn",
                                       "urn:schemas-upnp-org:service:WANIPConnection:1", "127.0.0.1"};
        return RouterRequest::soap(action, {}, target);
    }

    FakeGateway gateway;
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work;
    std::thread thread;
};

TEST_F(HttpExchangeTest, EveryFramingEndsTheReplyWithoutWaitingForTheTimeLimit) {
    const std::string get = RouterRequest::get("/rootDesc.xml", "127.0.0.1", gateway.httpPort());
    // Content-Length and chunked replies are followed by an open connection:
    // only their framing can end them before the hour is up.
    for (const auto framing : {FakeGateway::Framing::contentLength, FakeGateway::Framing::chunked,
                               FakeGateway::Framing::closeDelimited}) {
        gateway.setDescriptionFraming(framing);
        const auto result = exchange(get, 1h, 256 * 1024);
        ASSERT_TRUE(result.ok()) << result.failure().description();
        EXPECT_EQ(result.value().status, 200);
        EXPECT_EQ(toString(result.value().body), gateway.description());
    }
}

TEST_F(HttpExchangeTest, FaultAnswerKeepsItsStatusAndErrorCode) {
    gateway.script("AddPortMapping", FakeGateway::Reply::fault(718));
    const auto result = exchange(soap("AddPortMapping"), 1h);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().status, 500);
    EXPECT_EQ(TagScanner::tagValue("errorCode", toString(result.value().body)), "718");
}

TEST_F(HttpExchangeTest, SilenceUntilTheTimeLimitMeansNoGateway) {
    gateway.script("GetExternalIPAddress", FakeGateway::Reply::stall());
    const auto result = exchange(soap("GetExternalIPAddress"), 100ms);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.failure(), PortMapperFailure::noGateway());
}

TEST_F(HttpExchangeTest, ReplyCutShortIsParsedAsItStands) {
    gateway.script("A", FakeGateway::Reply::raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", true));
    const auto byTimeLimit = exchange(soap("A"), 1s);
    ASSERT_TRUE(byTimeLimit.ok());
    EXPECT_EQ(toString(byTimeLimit.value().body), "abc");

    gateway.script("B", FakeGateway::Reply::raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"));
    const auto byClose = exchange(soap("B"), 1h);
    ASSERT_TRUE(byClose.ok());
    EXPECT_EQ(toString(byClose.value().body), "abc");
}

TEST_F(HttpExchangeTest, UnreadableOrEndlessRepliesAreBadResponses) {
    gateway.script("A", FakeGateway::Reply::raw("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n"));
    EXPECT_EQ(exchange(soap("A"), 1h).failure(), PortMapperFailure::badResponse());

    gateway.script("B", FakeGateway::Reply::raw("HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(exchange(soap("B"), 1h).failure(), PortMapperFailure::badResponse());

    gateway.script("C", FakeGateway::Reply::raw(""));
    EXPECT_EQ(exchange(soap("C"), 1h).failure(), PortMapperFailure::badResponse());

    // Without a size limit a device could stream until memory runs out.
    gateway.script("D", FakeGateway::Reply::oversized());
    EXPECT_EQ(exchange(soap("D"), 1h).failure(), PortMapperFailure::badResponse());
}

TEST_F(HttpExchangeTest, RefusedConnectionIsANetworkError) {
    std::uint16_t closedPort;
    {
        asio::ip::tcp::acceptor probe(io, asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
        closedPort = probe.local_endpoint().port();
    }
    const auto result = exchange(soap("A"), 1h, 64 * 1024, closedPort);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.failure().kind(), PortMapperFailure::Kind::network);
    EXPECT_EQ(result.failure().networkError(), asio::error::connection_refused);
}

} // namespace
} // namespace velm
