#include "transport/away/RouterNetwork.h"

#include "platform/dispatch/Queue.h"
#include "transport/away/HttpExchange.h"
#include "transport/away/RouterDiscovery.h"
#include "transport/away/RouterRequest.h"

#include <pthread.h>

#include <utility>

namespace velm {

std::shared_ptr<RouterNetwork> RouterNetwork::make(Options options) {
    return std::shared_ptr<RouterNetwork>(new RouterNetwork(std::move(options)));
}

RouterNetwork::RouterNetwork(Options options)
    : options_(std::move(options)), work_(io_.get_executor()), thread_([this] {
          pthread_setname_np(pthread_self(), "velm.portmapper");
          io_.run();
      }) {}

RouterNetwork::~RouterNetwork() {
    // Exchanges still running are dropped: their completions never run.
    work_.reset();
    io_.stop();
    thread_.join();
}

void RouterNetwork::findGateway(Clock::duration searchLimit, GatewayDone done) {
    Queue::global()->post([weak = weak_from_this(), search = SsdpSearch(options_.search), searchLimit,
                           done = std::move(done)]() mutable {
        const auto location = search.run(searchLimit);
        if (auto self = weak.lock()) {
            self->fetchDescription(location, std::move(done));
        }
    });
}

void RouterNetwork::fetchDescription(const std::optional<std::string>& location, GatewayDone done) {
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
    exchange(where.host, *where.port, RouterRequest::get(where.path, where.host, *where.port),
             options_.descriptionTimeout, RouterDiscovery::descriptionLimit,
             [where, done = std::move(done)](PortMapperResult<HttpResponse> reply) {
                 if (!reply.ok()) {
                     done(reply.failure());
                     return;
                 }
                 done(RouterDiscovery::gateway(where, reply.value()));
             });
}

void RouterNetwork::exchange(std::string host, std::uint16_t port, std::string request, Clock::duration timeout,
                             std::size_t sizeLimit, ExchangeDone done) {
    HttpExchange::start(io_.get_executor(), std::move(host), port, std::move(request), timeout, sizeLimit,
                        std::move(done));
}

} // namespace velm
