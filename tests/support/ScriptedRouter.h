#pragma once

#include "transport/away/router/RouterClient.h"

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace velm::test {

// A router client without a network: searches and exchanges are answered from
// a script at once, or held until the test answers them. Unscripted searches
// find `standardGateway()`; unscripted actions succeed.
class ScriptedRouter : public RouterClient {
public:
    struct Exchange {
        std::string host;
        std::uint16_t port = 0;
        std::string request;
        Clock::duration timeout{};
        std::size_t sizeLimit = 0;

        std::string action() const;
        // The text of one argument element of the request; "<absent>" when missing.
        std::string argument(const std::string& name) const;
    };

    static PortMapperGateway standardGateway();
    // A 200 answer to `action`, with `inner` inside its response element.
    static HttpResponse success(const std::string& action, const std::string& inner = "");
    // A UPnP fault with `code` in its errorCode element.
    static HttpResponse fault(const std::string& code, int status = 500);

    void scriptSearch(PortMapperResult<PortMapperGateway> result);
    void script(const std::string& action, PortMapperResult<HttpResponse> result);

    // While holding, exchanges wait until answerHeld().
    void hold() { holding_ = true; }
    // Answers the oldest held exchange from the script.
    void answerHeld();
    std::size_t heldCount() const { return held_.size(); }
    // Stops holding and answers every held exchange, oldest first.
    void release();

    void findGateway(Clock::duration searchLimit, GatewayDone done) override;
    void exchange(std::string host, std::uint16_t port, std::string request, Clock::duration timeout,
                  std::size_t sizeLimit, ExchangeDone done) override;

    std::vector<Clock::duration> searches;
    std::vector<Exchange> exchanges;

private:
    PortMapperResult<HttpResponse> nextAnswer(const Exchange& exchange);

    std::deque<PortMapperResult<PortMapperGateway>> searchScript_;
    std::map<std::string, std::deque<PortMapperResult<HttpResponse>>> script_;
    bool holding_ = false;
    std::deque<std::pair<Exchange, ExchangeDone>> held_;
};

} // namespace velm::test
