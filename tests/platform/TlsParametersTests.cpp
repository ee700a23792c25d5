#include "platform/net/TlsParameters.h"
#include "tests/support/RawTls.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace velm {
namespace {

int optionOf(int socket, int level, int name)
{
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(socket, level, name, &value, &length);
    return value;
}

TEST(TlsParametersTests, TcpOptionsAreSetOnAConnectedSocket)
{
    test::RawListener listener;
    auto socket = test::RawSocket::connect(listener.port());
    ASSERT_TRUE(socket);
    TlsParameters::applyTcpOptions(socket->fd());
    const int fd = socket->fd();
    EXPECT_EQ(optionOf(fd, IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(optionOf(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(optionOf(fd, IPPROTO_TCP, TCP_KEEPIDLE), 2);
    EXPECT_EQ(optionOf(fd, IPPROTO_TCP, TCP_KEEPINTVL), 1);
    EXPECT_EQ(optionOf(fd, IPPROTO_TCP, TCP_KEEPCNT), 3);
    EXPECT_EQ(optionOf(fd, IPPROTO_TCP, TCP_USER_TIMEOUT), 5000);
    EXPECT_EQ(optionOf(fd, IPPROTO_IP, IP_TOS), 0x88);
}

TEST(TlsParametersTests, KeysStayInTheirOrderAndAnEmptyListGetsAPlaceholder)
{
    const TlsParameters three({TlsKey{"a", SecretBytes(Bytes(32, 1))}, TlsKey{"b", SecretBytes(Bytes(32, 2))},
                               TlsKey{"c", SecretBytes(Bytes(32, 3))}});
    ASSERT_EQ(three.keys().size(), 3u);
    EXPECT_EQ(three.keys()[0].identity, "a");
    EXPECT_EQ(three.keys()[2].identity, "c");
    EXPECT_TRUE(three.context());

    const TlsParameters first({});
    const TlsParameters second({});
    ASSERT_EQ(first.keys().size(), 1u);
    EXPECT_EQ(first.keys()[0].identity, TlsParameters::placeholderIdentity);
    EXPECT_NE(first.keys()[0].secret, second.keys()[0].secret); // drawn anew, never guessable
}

} // namespace
} // namespace velm
