#include "platform/net/TlsParameters.h"

#include "platform/log/Log.h"
#include "platform/net/TlsContext.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/rand.h>
#include <sys/socket.h>

namespace velm {

namespace {

std::vector<TlsKey> withPlaceholder(std::vector<TlsKey> keys)
{
    if (!keys.empty()) {
        return keys;
    }
    Bytes secret(TlsParameters::placeholderKeySize);
    if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1) {
        // Leaving the key list empty still admits nobody: a server without keys answers every identity as unknown.
        return {};
    }
    return {TlsKey{std::string(TlsParameters::placeholderIdentity), std::move(secret)}};
}

void setOption(int socket, int level, int name, int value)
{
    if (setsockopt(socket, level, name, &value, sizeof value) != 0) {
        Log("net").error("socket option %d/%d refused", level, name);
    }
}

} // namespace

TlsParameters::TlsParameters(std::vector<TlsKey> keys)
    : keys_(withPlaceholder(std::move(keys))), context_(TlsContext::make(keys_))
{
}

void TlsParameters::applyTcpOptions(int socket)
{
    setOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
    setOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(tcpKeepAliveIdle.count()));
    setOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, static_cast<int>(tcpKeepAliveInterval.count()));
    setOption(socket, IPPROTO_TCP, TCP_KEEPCNT, tcpKeepAliveCount);
    setOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT,
              static_cast<int>(std::chrono::milliseconds(tcpUserTimeout).count()));
}

} // namespace velm
