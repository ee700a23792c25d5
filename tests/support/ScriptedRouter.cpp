#include "tests/support/ScriptedRouter.h"

#include "transport/away/router/TagScanner.h"

namespace velm::test {

std::string ScriptedRouter::Exchange::action() const {
    const auto hash = request.find('#');
    const auto quote = request.find('"', hash);
    return hash == std::string::npos ? "GET" : request.substr(hash + 1, quote - hash - 1);
}

std::string ScriptedRouter::Exchange::argument(const std::string& name) const {
    return TagScanner::tagValue(name, request).value_or("<absent>");
}

PortMapperGateway ScriptedRouter::standardGateway() {
    return {"192.0.2.1", 5000, "/ctl/IPConn", "urn:schemas-upnp-org:service:WANIPConnection:1", "192.0.2.20"};
}

HttpResponse ScriptedRouter::success(const std::string& action, const std::string& inner) {
    return {200, toBytes("<s:Envelope><s:Body><u:" + action + "Response>" + inner + "</u:" + action +
                         "Response></s:Body></s:Envelope>")};
}

HttpResponse ScriptedRouter::fault(const std::string& code, int status) {
    return {status, toBytes("<s:Envelope><s:Body><s:Fault><detail><UPnPError><errorCode>" + code +
                            "</errorCode></UPnPError></detail></s:Fault></s:Body></s:Envelope>")};
}

void ScriptedRouter::scriptSearch(PortMapperResult<PortMapperGateway> result) {
    searchScript_.push_back(std::move(result));
}

void ScriptedRouter::script(const std::string& action, PortMapperResult<HttpResponse> result) {
    script_[action].push_back(std::move(result));
}

void ScriptedRouter::findGateway(Clock::duration searchLimit, GatewayDone done) {
    searches.push_back(searchLimit);
    if (searchScript_.empty()) {
        done(standardGateway());
        return;
    }
    auto result = std::move(searchScript_.front());
    searchScript_.pop_front();
    done(std::move(result));
}

void ScriptedRouter::exchange(std::string host, std::uint16_t port, std::string request,
                              Clock::duration timeout, std::size_t sizeLimit, ExchangeDone done) {
    Exchange exchange{std::move(host), port, std::move(request), timeout, sizeLimit};
    exchanges.push_back(exchange);
    if (holding_) {
        held_.emplace_back(std::move(exchange), std::move(done));
        return;
    }
    done(nextAnswer(exchange));
}

void ScriptedRouter::answerHeld() {
    auto [exchange, done] = std::move(held_.front());
    held_.pop_front();
    done(nextAnswer(exchange));
}

void ScriptedRouter::release() {
    holding_ = false;
    while (!held_.empty()) {
        answerHeld();
    }
}

PortMapperResult<HttpResponse> ScriptedRouter::nextAnswer(const Exchange& exchange) {
    auto& queue = script_[exchange.action()];
    if (queue.empty()) {
        const std::string inner = exchange.action() == "GetExternalIPAddress"
                                      ? "<NewExternalIPAddress>203.0.113.7</NewExternalIPAddress>"
                                      : "";
        return success(exchange.action(), inner);
    }
    auto result = std::move(queue.front());
    queue.pop_front();
    return result;
}

} // namespace velm::test
