#include "Velm_Host/away/AwayDevices.h"
#include "Velm_Host/away/AwayDoors.h"
#include "platform/crypto/Random.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace velm {
namespace {

// A date `seconds` into epoch `epoch`.
Date intoEpoch(std::uint64_t epoch, double seconds) {
    return Date(static_cast<double>(epoch) * Door::windowSeconds + seconds - Date::referenceDateInUnixTime);
}

std::set<std::uint16_t> portsOf(const SecretBytes& key, std::initializer_list<std::uint64_t> windows) {
    std::set<std::uint16_t> ports;
    for (const std::uint64_t window : windows) {
        ports.insert(Door::doorPort(key, window));
    }
    return ports;
}

TEST(AwayDoorsTest, ThePreviousWindowKeepsItsDoorsForTheFirstMinuteOfANewOne) {
    const std::vector<Door::Keyring::Device> devices{{"pad", Random::secret(32)}};
    const SecretBytes& key = devices[0].key;
    constexpr std::uint64_t epoch = 3'000'000;
    EXPECT_EQ(AwayDoors::wantedPorts(devices, intoEpoch(epoch, 30)),
              portsOf(key, {epoch - 1, epoch, epoch + 1}));
    EXPECT_EQ(AwayDoors::wantedPorts(devices, intoEpoch(epoch, 59.9)),
              portsOf(key, {epoch - 1, epoch, epoch + 1}));
    EXPECT_EQ(AwayDoors::wantedPorts(devices, intoEpoch(epoch, 60)), portsOf(key, {epoch, epoch + 1}));
    // Before 1970 there is no earlier window.
    EXPECT_EQ(AwayDoors::wantedPorts(devices, intoEpoch(0, -5000)), portsOf(key, {0, 1}));
    // Two devices with one key share their doors.
    const std::vector<Door::Keyring::Device> twins{{"a", key}, {"b", key}};
    EXPECT_EQ(AwayDoors::wantedPorts(twins, intoEpoch(epoch, 100)), portsOf(key, {epoch, epoch + 1}));
    EXPECT_TRUE(AwayDoors::wantedPorts({}, intoEpoch(epoch, 100)).empty());
}

TEST(AwayDoorsTest, OnlyTheFirstSixDevicesWhoseAccessIsActiveGetDoors) {
    const Date now(800'000'000);
    std::vector<AwayDevice> devices;
    devices.push_back({"lapsed-now", Random::secret(32), now});
    for (int index = 0; index < 7; ++index) {
        devices.push_back(
            {"device-" + std::to_string(index), Random::secret(32),
             index == 0 ? std::optional<Date>(Date(now.secondsSinceReferenceDate() + 0.001)) : std::nullopt});
    }
    const auto active = AwayDevices(std::move(devices)).active(now);
    std::vector<std::string> ids;
    for (const auto& device : active) {
        ids.push_back(device.id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"device-0", "device-1", "device-2", "device-3", "device-4",
                                             "device-5"}));
}

} // namespace
} // namespace velm
