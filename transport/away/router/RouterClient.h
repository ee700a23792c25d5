#pragma once

#include "transport/away/router/HttpResponse.h"
#include "transport/away/router/PortMapperGateway.h"
#include "transport/away/router/PortMapperResult.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velm {

// What the port mapper needs of the network: finding the router and one HTTP
// exchange with it. The port mapper's tests put a scripted router in its place.
class RouterClient {
public:
    using Clock = std::chrono::steady_clock;
    using GatewayDone = std::function<void(PortMapperResult<PortMapperGateway>)>;
    using ExchangeDone = std::function<void(PortMapperResult<HttpResponse>)>;

    virtual ~RouterClient() = default;

    // Searches for the router for at most `searchLimit`, reads its
    // description and picks the WAN connection service. `done` is called
    // once, on any thread, unless the client is destroyed first.
    virtual void findGateway(Clock::duration searchLimit, GatewayDone done) = 0;

    // One HTTP request and its reply; see HttpExchange for the failures.
    // `done` is called once, on any thread, unless the client is destroyed first.
    virtual void exchange(std::string host, std::uint16_t port, std::string request, Clock::duration timeout,
                          std::size_t sizeLimit, ExchangeDone done) = 0;
};

} // namespace velm
