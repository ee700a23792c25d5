#include "transport/away/router/RouterNetwork.h"

#include "platform/dispatch/Queue.h"
#include "transport/away/router/HttpExchange.h"
#include "transport/away/router/RouterDiscovery.h"
#include "transport/away/router/RouterRequest.h"

#include <utility>

namespace velm {
namespace {

// Reads the description behind the LOCATION of the search's answer and turns it into the gateway.
void fetchDescription(RouterClient::Clock::duration timeout, const std::optional<std::string>& location,
                      RouterClient::GatewayDone done) {
    if (!location) {
        done(PortMapperFailure::noGateway());
        return;
    }
    auto url = RouterDiscovery::descriptionUrl(*location);
    if (!url.ok()) {
        done(url.failure());
        return;
    }
    const HttpUrl& where = url.value();
    HttpExchange::start(where.host, *where.port, RouterRequest::get(where.path, where.host, *where.port),
                        timeout, RouterDiscovery::descriptionLimit,
                        [where, done = std::move(done)](PortMapperResult<HttpResponse> reply) {
                            if (!reply.ok()) {
                                done(reply.failure());
                                return;
                            }
                            done(RouterDiscovery::gateway(where, reply.value()));
                        });
}

} // namespace

std::shared_ptr<RouterNetwork> RouterNetwork::make(Options options) {
    return std::shared_ptr<RouterNetwork>(new RouterNetwork(std::move(options)));
}

RouterNetwork::RouterNetwork(Options options) : options_(std::move(options)) {}

void RouterNetwork::findGateway(Clock::duration searchLimit, GatewayDone done) {
    Queue::global()->post(
        [search = SsdpSearch(options_.search), timeout = options_.descriptionTimeout, searchLimit,
         done = std::move(done)] { fetchDescription(timeout, search.run(searchLimit), done); });
}

void RouterNetwork::exchange(std::string host, std::uint16_t port, std::string request,
                             Clock::duration timeout, std::size_t sizeLimit, ExchangeDone done) {
    HttpExchange::start(std::move(host), port, std::move(request), timeout, sizeLimit, std::move(done));
}

} // namespace velm
