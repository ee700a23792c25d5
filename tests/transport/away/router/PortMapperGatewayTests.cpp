#include "tests/support/FakeGateway.h"
#include "tests/support/PrivateNetwork.h"
#include "transport/away/router/PortMapper.h"
#include "transport/away/router/RouterNetwork.h"

#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::FakeGateway;

const std::string wanIp2 = "urn:schemas-upnp-org:service:WANIPConnection:2";
const std::string wanPpp1 = "urn:schemas-upnp-org:service:WANPPPConnection:1";

// Waits for the one result of an operation; the bound guards against a hang.
template <class T, class Start> PortMapperResult<T> wait(Start start) {
    auto promise = std::make_shared<std::promise<PortMapperResult<T>>>();
    auto future = promise->get_future();
    start([promise](PortMapperResult<T> result) { promise->set_value(std::move(result)); });
    if (future.wait_for(60s) != std::future_status::ready) {
        ADD_FAILURE() << "the operation never finished";
        return PortMapperFailure::badResponse();
    }
    return future.get();
}

// The port mapper on the real network, finding the fake gateway by a unicast search.
class PortMapperGatewayTest : public ::testing::Test {
protected:
    std::shared_ptr<PortMapper> makeMapper(PortMapper::Timing timing) {
        auto network = RouterNetwork::make({{"127.0.0.1", gateway.ssdpPort(), 20ms}, 5s});
        return PortMapper::make("Velm", Queue::make("velm.portmapper.test"), network, timing);
    }

    PortMapperResult<PortMapperGateway> findGateway() {
        mapper->forgetGateway();
        return wait<PortMapperGateway>([&](auto done) { mapper->currentGateway(done); });
    }

    FakeGateway gateway;
    std::shared_ptr<PortMapper> mapper = makeMapper({5s, 5s, 10ms});
};

TEST_F(PortMapperGatewayTest, FindsTheChosenServiceAndTalksToIt) {
    const std::string absolute = "http://127.0.0.1:" + std::to_string(gateway.httpPort()) + "/ctl/IP2";
    struct Case {
        std::vector<FakeGateway::Service> services;
        std::string type;
        std::string path;
    };
    const std::vector<Case> cases = {
        {{{wanPpp1, "/ctl/PPP"}, {wanIp2, absolute}}, wanIp2, "/ctl/IP2"},
        {{{wanPpp1, "/ctl/PPP"}}, wanPpp1, "/ctl/PPP"},
    };
    for (const auto& expected : cases) {
        gateway.setServices(expected.services);
        const auto found = findGateway();
        ASSERT_TRUE(found.ok()) << found.failure().description();
        EXPECT_EQ(found.value(), (PortMapperGateway{"127.0.0.1", gateway.httpPort(), expected.path,
                                                    expected.type, "127.0.0.1"}));

        const auto address = wait<std::string>([&](auto done) { mapper->externalAddress(done); });
        ASSERT_TRUE(address.ok());
        EXPECT_EQ(address.value(), FakeGateway::defaultExternalAddress);
        EXPECT_TRUE(gateway.lastRequest().starts_with("POST " + expected.path + " HTTP/1.1\r\n"));
        EXPECT_NE(gateway.lastRequest().find("SOAPAction: \"" + expected.type + "#"), std::string::npos);
    }
}

TEST_F(PortMapperGatewayTest, FloodingDescriptionOrSilenceGivesNoGateway) {
    gateway.setDescription(std::string(300 * 1024, ' '));
    EXPECT_EQ(findGateway().failure(), PortMapperFailure::badResponse());

    gateway.setSsdpAnswers({});
    mapper = makeMapper({200ms, 5s, 10ms});
    EXPECT_EQ(findGateway().failure(), PortMapperFailure::noGateway());
}

TEST_F(PortMapperGatewayTest, StalledOrFloodingRouterIsDroppedAndSearchedAgain) {
    mapper = makeMapper({5s, 1s, 10ms});
    gateway.script("GetExternalIPAddress", FakeGateway::Reply::stall());
    EXPECT_EQ(wait<std::string>([&](auto done) { mapper->externalAddress(done); }).failure(),
              PortMapperFailure::noGateway());

    gateway.script("GetExternalIPAddress", FakeGateway::Reply::oversized());
    EXPECT_EQ(wait<std::string>([&](auto done) { mapper->externalAddress(done); }).failure(),
              PortMapperFailure::badResponse());

    EXPECT_TRUE(wait<std::string>([&](auto done) { mapper->externalAddress(done); }).ok());
    EXPECT_EQ(gateway.descriptionFetches(), 3);
}

// A router answers from the home network with its address: a name would be looked up, and whatever it
// leads to connected to, before the router could be refused for it.
TEST_F(PortMapperGatewayTest, ALocationNamingAHostIsRefusedBeforeAnythingIsFetched) {
    std::string answer = gateway.defaultSsdpAnswer();
    const std::string address = "127.0.0.1";
    answer.replace(answer.find(address), address.size(), "localhost");
    gateway.setSsdpAnswers({answer});
    EXPECT_EQ(findGateway().failure(), PortMapperFailure::badResponse());
    EXPECT_EQ(gateway.descriptionFetches(), 0);
}

// The search as sent to the SSDP group on port 1900, answered by the fake gateway on loopback only.
TEST(SsdpMulticastTest, SearchReachesTheGroupOnlyInsideAPrivateNamespace) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    FakeGateway gateway(true);
    auto mapper = PortMapper::make("Velm", Queue::make("velm.portmapper.test"), RouterNetwork::make(),
                                   PortMapper::Timing{});
    const auto result = wait<std::string>([&](auto done) { mapper->externalAddress(done); });
    ASSERT_TRUE(result.ok()) << result.failure().description();
    EXPECT_EQ(result.value(), FakeGateway::defaultExternalAddress);
    EXPECT_GE(gateway.searchesReceived(), 1);
}

} // namespace
} // namespace velm
