#pragma once

#include "transport/away/router/RouterClient.h"
#include "transport/away/router/SsdpSearch.h"

#include <memory>

namespace velm {

// The router client on the real network: the SSDP search on the global
// background queue (it blocks a thread for up to its limit) and the HTTP
// exchanges each on a serial queue of its own.
// Work in flight when the client is destroyed runs to its end; its
// completions still run.
class RouterNetwork : public RouterClient {
public:
    struct Options {
        SsdpSearch::Options search;
        // The time limit of the description request.
        Clock::duration descriptionTimeout = std::chrono::seconds(5);
    };

    static std::shared_ptr<RouterNetwork> make() { return make(Options{}); }
    static std::shared_ptr<RouterNetwork> make(Options options);

    void findGateway(Clock::duration searchLimit, GatewayDone done) override;
    void exchange(std::string host, std::uint16_t port, std::string request, Clock::duration timeout,
                  std::size_t sizeLimit, ExchangeDone done) override;

private:
    explicit RouterNetwork(Options options);

    const Options options_;
};

} // namespace velm
