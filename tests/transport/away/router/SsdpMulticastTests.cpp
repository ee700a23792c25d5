#include "tests/support/FakeGateway.h"
#include "tests/support/PrivateNetwork.h"
#include "transport/away/router/PortMapper.h"
#include "transport/away/router/RouterNetwork.h"

#include <future>
#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

using namespace std::chrono_literals;

// The search as the host sends it, to the SSDP group on port 1900, answered by the fake gateway
// that joined the group on loopback; the group is never reached through a real interface.
TEST(SsdpMulticastTest, SearchReachesTheGroupOnlyInsideAPrivateNamespace) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    test::FakeGateway gateway(true);
    auto mapper = PortMapper::make("Velm", Queue::make("velm.portmapper.test"), RouterNetwork::make(),
                                   PortMapper::Timing{});
    std::promise<PortMapperResult<std::string>> address;
    mapper->externalAddress(
        [&](PortMapperResult<std::string> result) { address.set_value(std::move(result)); });
    auto future = address.get_future();
    ASSERT_EQ(future.wait_for(60s), std::future_status::ready);
    const auto result = future.get();
    ASSERT_TRUE(result.ok()) << result.failure().description();
    EXPECT_EQ(result.value(), test::FakeGateway::defaultExternalAddress);
    EXPECT_GE(gateway.searchesReceived(), 1);
}

} // namespace
} // namespace velm
