#include "Velm_Host/model/HostSettings.h"

#include "platform/core/Uuid.h"
#include "platform/discovery/TxtRecord.h"

#include <array>
#include <string_view>

namespace velm {
namespace {

constexpr std::array allowedAwayAccessDays{0, 1, 7, 30};

// Fits the advertisement's "id=" entry.
bool isAdvertisable(std::string_view hostID) {
    constexpr std::string_view key = "id=";
    return !hostID.empty() && hostID.size() <= TxtRecord::maxEntrySize - key.size() &&
           hostID.find('\0') == std::string_view::npos;
}

} // namespace

HostSettings::HostSettings(std::shared_ptr<DefaultsStore> defaults) : defaults_(std::move(defaults)) {
    defaults_->registerDefaults({
        {std::string(allowRemoteAccessKey), DefaultsValue(true)},
        {std::string(awayAccessDaysKey), DefaultsValue(std::int64_t{defaultAwayAccessDays})},
        {std::string(allowsAwayWithoutDeviceKeyKey), DefaultsValue(true)},
    });
}

bool HostSettings::allowRemoteAccess() const {
    return defaults_->boolValue(allowRemoteAccessKey).value_or(true);
}

bool HostSettings::allowAwayAccess() const {
    return defaults_->boolValue(allowAwayAccessKey).value_or(false);
}

int HostSettings::awayAccessDays() const {
    return awayAccessDays(defaults_->integerValue(awayAccessDaysKey));
}

bool HostSettings::allowsAwayWithoutDeviceKey() const {
    return defaults_->boolValue(allowsAwayWithoutDeviceKeyKey).value_or(true);
}

bool HostSettings::deviceKeysCompleted() const {
    return defaults_->boolValue(deviceKeysCompletedKey).value_or(false);
}

std::optional<std::uint16_t> HostSettings::listenPort() const {
    const auto stored = defaults_->integerValue(listenPortKey);
    if (!stored || *stored <= 0 || *stored > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*stored);
}

// One the advertisement cannot carry (edited by hand, or damaged) would keep the host from being found
// for good, so it is made afresh too. A new one that cannot be saved (a full disk) still serves the whole
// run as the default, or each part of the host that asks would name another host.
std::string HostSettings::hostID() const {
    if (auto stored = defaults_->stringValue(hostIDKey); stored && isAdvertisable(*stored)) {
        return *stored;
    }
    auto made = Uuid::random().string();
    defaults_->registerDefaults(
        {{std::string(hostIDKey), DefaultsValue(std::in_place_type<std::string>, made)}});
    defaults_->setString(hostIDKey, made);
    return made;
}

bool HostSettings::setAllowRemoteAccess(bool allow) const {
    return defaults_->setBool(allowRemoteAccessKey, allow);
}

bool HostSettings::setAllowAwayAccess(bool allow) const {
    return defaults_->setBool(allowAwayAccessKey, allow);
}

bool HostSettings::setAwayAccessDays(int days) const {
    return defaults_->setInteger(awayAccessDaysKey, days);
}

bool HostSettings::setAllowsAwayWithoutDeviceKey(bool allows) const {
    return defaults_->setBool(allowsAwayWithoutDeviceKeyKey, allows);
}

bool HostSettings::setDeviceKeysCompleted() const {
    return defaults_->setBool(deviceKeysCompletedKey, true);
}

bool HostSettings::setListenPort(std::uint16_t port) const {
    return defaults_->setInteger(listenPortKey, port);
}

int HostSettings::awayAccessDays(std::optional<std::int64_t> stored) {
    for (const int allowed : allowedAwayAccessDays) {
        if (stored == allowed) {
            return allowed;
        }
    }
    return defaultAwayAccessDays;
}

} // namespace velm
