#pragma once

#include "platform/net/TlsKey.h"
#include "platform/net/TlsKeyLender.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace velm {

class TlsContext;

// What both ends of a control connection agree on: TLS 1.2 only, three pre-shared-key
// suites in a fixed order, no certificates, no tickets, no renegotiation; TCP without
// delay and with a short keep-alive. A client presents the first key; a server admits
// exactly the keys it holds, and those its lender lends for the identities it decides. A server
// answers an identity it does not know as it answers a wrong key, so that nobody can learn
// which identities it holds.
class TlsParameters {
public:
    static constexpr std::uint16_t suiteEcdhePskChacha20 = 0xCCAC;
    static constexpr std::uint16_t suitePskAes256Gcm = 0x00A9;
    static constexpr std::uint16_t suitePskAes128Gcm = 0x00A8;
    static constexpr std::array<std::uint16_t, 3> offeredSuites = {suiteEcdhePskChacha20, suitePskAes256Gcm,
                                                                   suitePskAes128Gcm};
    static constexpr const char* cipherList =
        "ECDHE-PSK-CHACHA20-POLY1305:PSK-AES256-GCM-SHA384:PSK-AES128-GCM-SHA256";

    // An empty key list is replaced by one random key under this identity, so that the
    // parameters always carry a key and yet admit no peer.
    static constexpr std::string_view placeholderIdentity = "velm-nobody";
    static constexpr std::size_t placeholderKeySize = 32;

    static constexpr std::chrono::seconds tcpKeepAliveIdle{2};
    static constexpr std::chrono::seconds tcpKeepAliveInterval{1};
    static constexpr int tcpKeepAliveCount = 3;
    // Unacknowledged data is given up on as soon as keep-alive would give up on silence.
    static constexpr std::chrono::seconds tcpUserTimeout =
        tcpKeepAliveIdle + tcpKeepAliveInterval * tcpKeepAliveCount;
    static constexpr std::chrono::seconds tcpConnectionTimeout{5};
    // The interactive-video service class: DSCP AF41, which Wi-Fi carries in its video access category.
    static constexpr int interactiveVideoTrafficClass = 34 << 2;

    explicit TlsParameters(std::vector<TlsKey> keys, std::shared_ptr<TlsKeyLender> lender = nullptr);

    const std::vector<TlsKey>& keys() const { return keys_; }

    // The OpenSSL context built from these parameters; absent when OpenSSL could not make one.
    const std::shared_ptr<const TlsContext>& context() const { return context_; }

    // Sets no-delay, keep-alive, the user time-out and the traffic class on a connected TCP socket.
    static void applyTcpOptions(int socket);

private:
    std::vector<TlsKey> keys_;
    std::shared_ptr<const TlsContext> context_;
};

} // namespace velm
