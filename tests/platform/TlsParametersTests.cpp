#include "platform/net/TlsParameters.h"
#include "tests/support/RawTls.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace velm {
namespace {

TEST(TlsParametersTests, TcpOptionsAreSetOnAConnectedSocket) {
    test::RawListener listener;
    auto socket = test::RawSocket::connect(listener.port());
    ASSERT_TRUE(socket);
    TlsParameters::applyTcpOptions(socket->fd());
    const std::tuple<int, int, const char*, int> options[] = {
        {IPPROTO_TCP, TCP_NODELAY, "TCP_NODELAY", 1},
        {SOL_SOCKET, SO_KEEPALIVE, "SO_KEEPALIVE", 1},
        {IPPROTO_TCP, TCP_KEEPIDLE, "TCP_KEEPIDLE", 2},
        {IPPROTO_TCP, TCP_KEEPINTVL, "TCP_KEEPINTVL", 1},
        {IPPROTO_TCP, TCP_KEEPCNT, "TCP_KEEPCNT", 3},
        {IPPROTO_TCP, TCP_USER_TIMEOUT, "TCP_USER_TIMEOUT", 5000},
        {IPPROTO_IP, IP_TOS, "IP_TOS", 0x88},
    };
    for (const auto& [level, name, label, expected] : options) {
        int value = -1;
        socklen_t length = sizeof value;
        getsockopt(socket->fd(), level, name, &value, &length);
        EXPECT_EQ(value, expected) << label;
    }
}

TEST(TlsParametersTests, AnEmptyKeyListGetsAFreshUnguessablePlaceholder) {
    const TlsParameters first({});
    const TlsParameters second({});
    ASSERT_EQ(first.keys().size(), 1u);
    EXPECT_EQ(first.keys()[0].identity, TlsParameters::placeholderIdentity);
    EXPECT_EQ(first.keys()[0].secret.size(), TlsParameters::placeholderKeySize);
    EXPECT_NE(first.keys()[0].secret, second.keys()[0].secret);
}

} // namespace
} // namespace velm
