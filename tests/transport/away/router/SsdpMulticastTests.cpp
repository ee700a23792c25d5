#include "tests/support/FakeGateway.h"
#include "transport/away/router/PortMapper.h"
#include "transport/away/router/RouterNetwork.h"

#include <climits>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <net/if.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace velm {
namespace {

using namespace std::chrono_literals;

// Set in the copy of this program that runs inside the namespace.
constexpr const char* childMarker = "VELM_SSDP_NAMESPACE_CHILD";
constexpr const char* testName = "SsdpMulticastTest.SearchReachesTheGroupOnlyInsideAPrivateNamespace";

bool onlyLoopbackExists() {
    struct if_nameindex* interfaces = if_nameindex();
    if (interfaces == nullptr) {
        return false;
    }
    bool onlyLoopback = true;
    for (const struct if_nameindex* entry = interfaces; entry->if_index != 0; ++entry) {
        onlyLoopback = onlyLoopback && std::string(entry->if_name) == "lo";
    }
    if_freenameindex(interfaces);
    return onlyLoopback;
}

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The search as the host sends it, to the SSDP group on port 1900, answered by
// the fake gateway that joined the group on loopback.
void searchTheGroup() {
    // The group must never be reached through a real interface.
    ASSERT_TRUE(onlyLoopbackExists()) << "refusing to multicast outside a private namespace";
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

TEST(SsdpMulticastTest, SearchReachesTheGroupOnlyInsideAPrivateNamespace) {
    if (std::getenv(childMarker) != nullptr) {
        searchTheGroup();
        return;
    }
    if (geteuid() != 0) {
        GTEST_SKIP() << "making a network namespace needs root";
    }
    const std::string path = "PATH=/usr/sbin:/sbin:/usr/bin:/bin ";
    if (run(path + "unshare -n true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "unshare -n is not available here";
    }
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);

    // Only loopback exists in the new namespace; give it multicast and a route for the group.
    const std::string setUp =
        "ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo src 127.0.0.1";
    const std::string command = path + childMarker + "=1 unshare -n -- /bin/sh -c '" + setUp +
                                " && exec \"$0\" --gtest_filter=" + testName + "' '" + self + "'";
    EXPECT_EQ(run(command), 0);
}

} // namespace
} // namespace velm
