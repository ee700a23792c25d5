// The port mapper on virtual time against a router whose every answer comes from the input: a
// status and a SOAP body, or a failure. Each call's completion must come exactly once.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "platform/dispatch/ManualQueue.h"
#include "transport/away/router/PortMapper.h"
#include "transport/away/router/RouterClient.h"

#include <chrono>
#include <cstdlib>

namespace velm::fuzz {
namespace {

enum Call : std::uint8_t { external, mapExact, mapAny, unmap, forget, calls };

// Answers every exchange at once from the input; a dry input answers with a network failure.
class FuzzedRouter : public RouterClient {
public:
    explicit FuzzedRouter(FuzzInput& input) : input_(input) {}

    void findGateway(Clock::duration, GatewayDone done) override {
        if (input_.byte() % 8 == 0) {
            done(PortMapperFailure::noGateway());
            return;
        }
        done(PortMapperGateway{"192.0.2.1", 5000, "/ctl/IPConn",
                               "urn:schemas-upnp-org:service:WANIPConnection:1", "192.0.2.20"});
    }

    void exchange(std::string, std::uint16_t, std::string, Clock::duration, std::size_t sizeLimit,
                  ExchangeDone done) override {
        if (input_.empty()) {
            done(PortMapperFailure::network(std::make_error_code(std::errc::connection_refused)));
            return;
        }
        const auto status = input_.integer<std::uint16_t>();
        const ByteView body = input_.piece();
        if (body.size() > sizeLimit) {
            done(PortMapperFailure::badResponse());
            return;
        }
        done(HttpResponse{status, Bytes(body.begin(), body.end())});
    }

private:
    FuzzInput& input_;
};

} // namespace

std::vector<Bytes> seeds() {
    const std::string success = "<s:Envelope><s:Body><u:GetExternalIPAddressResponse><NewExternalIPAddress>"
                                "203.0.113.7</NewExternalIPAddress></u:GetExternalIPAddressResponse></s:Body>"
                                "</s:Envelope>";
    const std::string conflict = "<s:Envelope><s:Body><s:Fault><detail><UPnPError><errorCode>718</errorCode>"
                                 "</UPnPError></detail></s:Fault></s:Body></s:Envelope>";
    return {FuzzScript()
                .byte(external)
                .byte(1)
                .integer<std::uint16_t>(200)
                .piece(toBytes(success))
                .byte(mapAny)
                .integer<std::uint16_t>(40000)
                .integer<std::uint16_t>(500)
                .piece(toBytes(conflict))
                .integer<std::uint16_t>(200)
                .piece(toBytes("<s:Envelope/>"))
                .take()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    auto queue = std::make_shared<ManualQueue>("mapper");
    auto mapper = PortMapper::make("fuzz", queue, std::make_shared<FuzzedRouter>(input));
    int pending = 0;
    const auto completes = [&pending] {
        ++pending;
        return [&pending, done = false]() mutable {
            if (done) {
                std::abort(); // a completion called twice
            }
            done = true;
            --pending;
        };
    };
    for (int count = 0; !input.empty() && count < 16; ++count) {
        switch (input.byte() % calls) {
        case external:
            mapper->externalAddress([done = completes()](auto) mutable { done(); });
            break;
        case mapExact: {
            const auto port = input.integer<std::uint16_t>();
            mapper->map(PortMapper::Transport::udp, port, port, PortMapper::Lease(3600),
                        [done = completes()](auto) mutable { done(); });
            break;
        }
        case mapAny:
            mapper->map(PortMapper::Transport::tcp, input.integer<std::uint16_t>(), PortMapper::Lease(0),
                        [done = completes()](auto) mutable { done(); });
            break;
        case unmap:
            mapper->unmap(PortMapper::Transport::udp, input.integer<std::uint16_t>(),
                          [done = completes()](bool) mutable { done(); });
            break;
        case forget:
            mapper->forgetGateway();
            break;
        }
        queue->runUntilIdle();
    }
    // Busy routers are retried after a pause: let every pause pass.
    for (int round = 0; round < 64 && pending > 0; ++round) {
        queue->advance(std::chrono::seconds(2));
    }
    if (pending != 0) {
        std::abort(); // a call never completed
    }
}

} // namespace velm::fuzz
