#include "tests/support/PrivateNetwork.h"

#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <net/if.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace velm::test {
namespace {

// Names the test the child process runs, so that it knows it is the child.
constexpr const char* childMarker = "VELM_PRIVATE_NETWORK_TEST";
constexpr const char* searchPath = "PATH=/usr/sbin:/sbin:/usr/bin:/bin ";

std::string currentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

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

// How to make the namespace here: as root, or in a user namespace of our own.
std::optional<std::string> unshareCommand() {
    if (geteuid() == 0 && run(std::string(searchPath) + "unshare -n true >/dev/null 2>&1") == 0) {
        return "unshare -n";
    }
    if (run(std::string(searchPath) + "unshare -rn true >/dev/null 2>&1") == 0) {
        return "unshare -rn";
    }
    return std::nullopt;
}

void skip(const char* reason) {
    GTEST_SKIP() << reason;
}

} // namespace

bool insidePrivateNetwork() {
    const std::string name = currentTestName();
    if (const char* marker = std::getenv(childMarker); marker != nullptr && name == marker) {
        if (!onlyLoopbackExists()) {
            ADD_FAILURE() << "the private network has more than loopback";
            return false;
        }
        return true;
    }
    const auto unshare = unshareCommand();
    if (!unshare) {
        skip("making a network namespace needs root or user namespaces");
        return false;
    }
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        ADD_FAILURE() << "cannot find this test program";
        return false;
    }
    const std::string setUp =
        "ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo src 127.0.0.1";
    // The child must not overwrite the parent's report.
    const std::string command = std::string(searchPath) + "env -u GTEST_OUTPUT " + childMarker + "=" + name +
                                " " + *unshare + " -- /bin/sh -c '" + setUp +
                                " && exec \"$0\" --gtest_filter=" + name + "' '" + self + "'";
    EXPECT_EQ(run(command), 0) << "the test failed inside its private network";
    return false;
}

bool shareLinkLocalAddress(const std::string& address) {
    // Without duplicate address detection the address is usable at once.
    const std::string command = std::string(searchPath) +
                                "ip link add velm0 type veth peer name velm1 && ip link set velm0 up && "
                                "ip link set velm1 up && ip -6 addr add " +
                                address + "/64 dev lo nodad && ip -6 addr add " + address +
                                "/64 dev velm0 nodad";
    EXPECT_EQ(run(command), 0) << "cannot give " << address << " to two interfaces";
    return !::testing::Test::HasFailure();
}

} // namespace velm::test
