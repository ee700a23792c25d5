#pragma once

#include "transport/away/router/HttpResponse.h"
#include "transport/away/router/PortMapperResult.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velm {

// One HTTP request to the router over a TCP connection of its own: send the
// request, read until the reply is whole, the peer closes, the limit on its
// size is passed or the time limit strikes.
class HttpExchange {
public:
    using Clock = std::chrono::steady_clock;
    using Completion = std::function<void(PortMapperResult<HttpResponse>)>;

    // The most asked of one receive.
    static constexpr std::size_t receiveSize = 65536;

    // Starts the exchange on a serial queue of its own; `done` is called exactly
    // once, on that queue. Failures: `network` when the host cannot be resolved or
    // connected or the request not sent; `noGateway` when nothing at all
    // arrived within `timeout`; `badResponse` when the reply exceeds
    // `sizeLimit` bytes or has no header end or status code. A reply cut short
    // by the peer or the time limit is parsed as it stands.
    static void start(std::string host, std::uint16_t port, std::string request, Clock::duration timeout,
                      std::size_t sizeLimit, Completion done);
};

} // namespace velm
