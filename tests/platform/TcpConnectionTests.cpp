#include "platform/dispatch/ManualQueue.h"
#include "platform/net/NetError.h"
#include "platform/net/TcpConnection.h"
#include "tests/support/Pump.h"

#include <asio/read.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>
#include <optional>

namespace velm {
namespace {

using asio::ip::tcp;

struct Receipt {
    Bytes data;
    std::error_code error;
};

class TcpConnectionTest : public ::testing::Test {
protected:
    std::optional<std::error_code> connect(HostPort target, TcpConnection* through = nullptr) {
        std::optional<std::error_code> outcome;
        (through ? through : connection.get())->connect(std::move(target), [&](const std::error_code& error) {
            outcome = error;
        });
        test::pumpUntil(*queue, [&] { return outcome.has_value(); });
        return outcome;
    }

    // Receives, doing `meanwhile` before the completion can come.
    std::optional<Receipt> receive(
        std::size_t maximum, const std::function<void()>& meanwhile = [] {}) {
        std::optional<Receipt> receipt;
        connection->receive(maximum, [&](Bytes data, const std::error_code& error) {
            receipt = Receipt{std::move(data), error};
        });
        meanwhile();
        test::pumpUntil(*queue, [&] { return receipt.has_value(); });
        return receipt;
    }

    std::uint16_t port() const { return acceptor.local_endpoint().port(); }

    asio::io_context io;
    tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)};
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("tcp");
    std::shared_ptr<TcpConnection> connection = TcpConnection::make(queue);
};

TEST_F(TcpConnectionTest, WritesAllAndReadsInPiecesUntilThePeerCloses) {
    ASSERT_EQ(connect({"127.0.0.1", port()}), std::error_code());
    tcp::socket peer = acceptor.accept();

    std::optional<std::error_code> sent;
    connection->send(toBytes("request"), [&](const std::error_code& error) { sent = error; });
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return sent.has_value(); }));
    EXPECT_FALSE(*sent);
    std::string request(7, '\0');
    asio::read(peer, asio::buffer(request));
    EXPECT_EQ(request, "request");

    asio::write(peer, asio::buffer(std::string("reply")));
    peer.close();
    std::string reply;
    std::optional<Receipt> receipt;
    while ((receipt = receive(3)) && !receipt->error) {
        EXPECT_LE(receipt->data.size(), 3u);
        reply += toString(receipt->data);
    }
    EXPECT_EQ(reply, "reply");
    ASSERT_TRUE(receipt);
    EXPECT_EQ(NetError::fromSystem(receipt->error).kind, NetError::Kind::closed);
}

TEST_F(TcpConnectionTest, ClosingEndsAPendingReceive) {
    ASSERT_EQ(connect({"127.0.0.1", port()}), std::error_code());
    tcp::socket peer = acceptor.accept();
    const auto receipt = receive(16, [&] { connection->close(); });
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->error, asio::error::operation_aborted);
    EXPECT_TRUE(receipt->data.empty());
}

// A close holds for good: a lookup that finishes after it opens no socket, and nothing that follows
// it reaches the network or reports success.
TEST_F(TcpConnectionTest, NothingConnectsOrGoesOutAfterAClose) {
    connection->close();
    EXPECT_EQ(connect({"127.0.0.1", port()}), std::error_code(asio::error::operation_aborted));
    std::optional<std::error_code> sent;
    connection->send(toBytes("late"), [&](const std::error_code& error) { sent = error; });
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return sent.has_value(); }));
    EXPECT_EQ(*sent, asio::error::operation_aborted);
    EXPECT_EQ(receive(16).value_or(Receipt{}).error, asio::error::operation_aborted);

    acceptor.non_blocking(true);
    std::error_code nobodyCame;
    acceptor.accept(nobodyCame);
    EXPECT_EQ(nobodyCame, asio::error::would_block);
}

TEST_F(TcpConnectionTest, RefusedAndUnknownHostsFailWithTheSocketLayersError) {
    const std::uint16_t vacated = port();
    acceptor.close();
    EXPECT_EQ(connect({"127.0.0.1", vacated}), std::error_code(asio::error::connection_refused));

    const auto outcome = connect({"no-such-host.invalid", 80}, TcpConnection::make(queue).get());
    ASSERT_TRUE(outcome);
    EXPECT_EQ(NetError::fromSystem(*outcome).kind, NetError::Kind::unreachable);
}

TEST_F(TcpConnectionTest, AnEmptyHostOrOneCutShortByANulNamesNoPeer) {
    // The acceptor listens on loopback, where either name would lead if it were read as this machine's.
    for (const std::string& host : {std::string(), std::string("127.0.0.1\0.example", 18)}) {
        const auto outcome = connect({host, port()}, TcpConnection::make(queue).get());
        ASSERT_TRUE(outcome);
        EXPECT_EQ(NetError::fromSystem(*outcome).kind, NetError::Kind::unreachable);
    }
}

} // namespace
} // namespace velm
