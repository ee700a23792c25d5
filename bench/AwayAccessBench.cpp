// What the away access service adds to admitting a knock. Ours: a fresh knock sent over loopback
// to a door port, read by the door listener, admitted, given a session listener of its own whose
// port a router that answers at once maps, and answered with the sealed reply, which the device
// then receives; the service keeps its four entries by evicting the oldest idle one each time.
// The baseline: a bare Door::Keyring::admit of a fresh knock. Prints the ratio of the two rates.

#include "Velm_Host/away/AwayAccess.h"
#include "bench/RatioReporter.h"
#include "platform/crypto/Random.h"
#include "platform/log/Log.h"
#include "platform/store/DefaultsStore.h"
#include "transport/away/door/Door.h"

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace {

using namespace velm;
using namespace std::chrono_literals;

// The knock ids the service may spend within one run bound the knocks it can admit.
constexpr std::size_t knocks = 3000;

// A router that maps whatever it is asked to, at once.
class InstantRouter : public RouterClient {
public:
    void findGateway(Clock::duration, GatewayDone done) override {
        done(PortMapperGateway{"127.0.0.1", 5000, "/ctl/IPConn",
                               "urn:schemas-upnp-org:service:WANIPConnection:1", "127.0.0.1"});
    }
    void exchange(std::string, std::uint16_t, std::string request, Clock::duration, std::size_t,
                  ExchangeDone done) override {
        const bool address = request.find("GetExternalIPAddress") != std::string::npos;
        const std::string inner = address ? "<NewExternalIPAddress>203.0.113.7</NewExternalIPAddress>" : "";
        done(HttpResponse{200, toBytes("<s:Envelope><s:Body><u:Response>" + inner +
                                       "</u:Response></s:Body></s:Envelope>")});
    }
};

struct Device {
    Device() {
        const Date now = Date::now();
        for (std::size_t index = 0; index < knocks; ++index) {
            datagrams.push_back(*Door::Knocker(key).knock(Door::epoch(now), now));
        }
        port = Door::doorPort(key, Door::epoch(now));
    }

    const SecretBytes key = Random::secret(32);
    std::vector<Bytes> datagrams;
    std::uint16_t port = 0;
};

class KnockingSocket {
public:
    KnockingSocket() : socket_(io_, asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0)) {}

    // Sends the knock and waits for its reply.
    std::optional<Bytes> knock(std::uint16_t port, const Bytes& datagram) {
        socket_.send_to(asio::buffer(datagram),
                        asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), port));
        pollfd descriptor{socket_.native_handle(), POLLIN, 0};
        if (::poll(&descriptor, 1, 2000) != 1) {
            return std::nullopt;
        }
        Bytes reply(128);
        asio::ip::udp::endpoint sender;
        reply.resize(socket_.receive_from(asio::buffer(reply), sender));
        return reply;
    }

private:
    asio::io_context io_;
    asio::ip::udp::socket socket_;
};

void bareKeyringAdmit(benchmark::State& state) {
    const Device device;
    const std::vector<Door::Keyring::Device> devices{{"bench-pad", device.key}};
    const Door::Keyring keyring(devices, Date::now());
    std::size_t next = 0;
    for (auto _ : state) {
        if (!keyring.admit(device.datagrams[next++ % knocks], Date::now())) {
            state.SkipWithError("a fresh knock was not admitted");
            break;
        }
    }
}

void knockThroughTheService(benchmark::State& state) {
    const Device device;
    auto access = AwayAccess::make("bench-host", std::make_shared<DefaultsStore>(),
                                   {.queue = nullptr,
                                    .router = std::make_shared<InstantRouter>(),
                                    .routerTiming = {},
                                    .now = Date::now,
                                    .listener = {}});
    access->setEnabled(true, {{"bench-pad", device.key, std::nullopt}});
    KnockingSocket socket;
    std::size_t next = 0;
    // The door opens within the first pass; knock until it answers.
    const auto ready = std::chrono::steady_clock::now() + 10s;
    while (!socket.knock(device.port, device.datagrams[next++])) {
        if (std::chrono::steady_clock::now() > ready || next == knocks) {
            state.SkipWithError("the door never answered");
            return;
        }
    }
    for (auto _ : state) {
        const auto reply = socket.knock(device.port, device.datagrams[next++]);
        if (!reply || reply->size() != Door::replyLength) {
            state.SkipWithError("a knock was not answered");
            break;
        }
    }
}

BENCHMARK(bareKeyringAdmit);
BENCHMARK(knockThroughTheService)->Iterations(knocks - 100)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // Four lines a knock would drown the table; the work is the same.
    velm::Log::setThreshold(velm::Log::Level::error);
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRateRatio("knockThroughTheService", "bareKeyringAdmit", 4);
    benchmark::Shutdown();
    return 0;
}
