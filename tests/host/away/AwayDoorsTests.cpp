#include "Velm_Host/away/AwayDevices.h"
#include "Velm_Host/away/AwayDoors.h"
#include "platform/crypto/Random.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace velm {
namespace {

std::set<std::uint16_t> wantedAt(const SecretBytes& key, std::uint64_t epoch, double seconds) {
    const Date at(static_cast<double>(epoch) * Door::windowSeconds + seconds - Date::referenceDateInUnixTime);
    return AwayDoors::wantedPorts({{"a", key}, {"b", key}}, at);
}

std::set<std::uint16_t> portsOf(const SecretBytes& key, std::initializer_list<std::uint64_t> windows) {
    std::set<std::uint16_t> ports;
    for (const std::uint64_t window : windows) {
        ports.insert(Door::doorPort(key, window));
    }
    return ports;
}

TEST(AwayDoorsTest, ThePreviousWindowKeepsItsDoorsForTheFirstMinuteOfANewOne) {
    const SecretBytes key = Random::secret(32);
    constexpr std::uint64_t e = 3'000'000;
    EXPECT_EQ(wantedAt(key, e, 59.9), portsOf(key, {e - 1, e, e + 1}));
    EXPECT_EQ(wantedAt(key, e, 60), portsOf(key, {e, e + 1}));
    // Before 1970 there is no earlier window.
    EXPECT_EQ(wantedAt(key, 0, -5000), portsOf(key, {0, 1}));
}

TEST(AwayDoorsTest, OnlyTheFirstSixDevicesWhoseAccessIsActiveGetDoors) {
    const Date now(800'000'000);
    std::vector<AwayDevice> devices{{"lapsed-now", Random::secret(32), now}};
    for (int index = 0; index < 7; ++index) {
        devices.push_back({"device-" + std::to_string(index), Random::secret(32), std::nullopt});
    }
    devices[1].until = Date(now.secondsSinceReferenceDate() + 0.001);
    std::vector<std::string> ids;
    for (const auto& device : AwayDevices(std::move(devices)).active(now)) {
        ids.push_back(device.id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"device-0", "device-1", "device-2", "device-3", "device-4",
                                             "device-5"}));
}

} // namespace
} // namespace velm
