#include "platform/net/TlsParameters.h"

#include "platform/log/Log.h"
#include "platform/net/TlsContext.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/rand.h>
#include <sys/socket.h>

namespace velm {

namespace {

std::vector<TlsKey> withPlaceholder(std::vector<TlsKey> keys) {
    if (!keys.empty()) {
        return keys;
    }
    SecretBytes secret(TlsParameters::placeholderKeySize);
    if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1) {
        // Leaving the key list empty still admits nobody: a server without keys knows no identity.
        return {};
    }
    return {TlsKey{std::string(TlsParameters::placeholderIdentity), std::move(secret)}};
}

bool setOption(int socket, int level, int name, int value) {
    return setsockopt(socket, level, name, &value, sizeof value) == 0;
}

void requireOption(int socket, int level, int name, int value) {
    if (!setOption(socket, level, name, value)) {
        Log("net").error("socket option %d/%d refused", level, name);
    }
}

bool isIpv6(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
           address.ss_family == AF_INET6;
}

} // namespace

TlsParameters::TlsParameters(std::vector<TlsKey> keys, std::shared_ptr<TlsKeyLender> lender)
    : keys_(withPlaceholder(std::move(keys))), context_(TlsContext::make(keys_, std::move(lender))) {}

void TlsParameters::applyTcpOptions(int socket) {
    requireOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
    requireOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
    requireOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(tcpKeepAliveIdle.count()));
    requireOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, static_cast<int>(tcpKeepAliveInterval.count()));
    requireOption(socket, IPPROTO_TCP, TCP_KEEPCNT, tcpKeepAliveCount);
    requireOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT,
                  static_cast<int>(std::chrono::milliseconds(tcpUserTimeout).count()));
    // A dual-stack socket may carry IPv4 too, so it gets both markings; the IPv4 one
    // is best effort there.
    if (isIpv6(socket)) {
        requireOption(socket, IPPROTO_IPV6, IPV6_TCLASS, interactiveVideoTrafficClass);
        setOption(socket, IPPROTO_IP, IP_TOS, interactiveVideoTrafficClass);
    } else {
        requireOption(socket, IPPROTO_IP, IP_TOS, interactiveVideoTrafficClass);
    }
}

} // namespace velm
