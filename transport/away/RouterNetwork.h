#pragma once

#include "transport/away/RouterClient.h"
#include "transport/away/SsdpSearch.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <memory>
#include <thread>

namespace velm {

// The router client on the real network: the SSDP search on the global
// background queue (it blocks a thread for up to its limit) and the HTTP
// exchanges on an I/O thread of its own, "velm.portmapper.http".
class RouterNetwork : public RouterClient, public std::enable_shared_from_this<RouterNetwork> {
public:
    struct Options {
        SsdpSearch::Options search;
        // The time limit of the description request.
        Clock::duration descriptionTimeout = std::chrono::seconds(5);
    };

    static std::shared_ptr<RouterNetwork> make() { return make(Options{}); }
    static std::shared_ptr<RouterNetwork> make(Options options);
    ~RouterNetwork() override;
    RouterNetwork(const RouterNetwork&) = delete;
    RouterNetwork& operator=(const RouterNetwork&) = delete;

    void findGateway(Clock::duration searchLimit, GatewayDone done) override;
    void exchange(std::string host, std::uint16_t port, std::string request, Clock::duration timeout,
                  std::size_t sizeLimit, ExchangeDone done) override;

private:
    explicit RouterNetwork(Options options);

    void fetchDescription(const std::optional<std::string>& location, GatewayDone done);

    Options options_;
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::thread thread_;
};

} // namespace velm
