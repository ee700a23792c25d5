#pragma once

#include "platform/store/DefaultsStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// The host's own settings in the user's defaults, with their registered defaults and the values that
// may be stored: a stored value of the wrong type reads as the default.
class HostSettings {
public:
    static constexpr std::string_view allowRemoteAccessKey = "allowRemoteAccess";
    static constexpr std::string_view allowAwayAccessKey = "allowAwayAccess";
    static constexpr std::string_view awayAccessDaysKey = "awayAccessDays";
    static constexpr std::string_view allowsAwayWithoutDeviceKeyKey = "allowsAwayWithoutDeviceKey";
    static constexpr std::string_view hostIDKey = "hostID";
    static constexpr std::string_view listenPortKey = "listenPort";
    static constexpr std::string_view deviceKeysCompletedKey = "deviceKeysCompleted";

    static constexpr int defaultAwayAccessDays = 30;

    // Registers the defaults.
    explicit HostSettings(std::shared_ptr<DefaultsStore> defaults);

    const std::shared_ptr<DefaultsStore>& defaults() const { return defaults_; }

    bool allowRemoteAccess() const;
    bool allowAwayAccess() const;
    // 0 (always), 1, 7 or 30; anything else stored reads as 30.
    int awayAccessDays() const;
    bool allowsAwayWithoutDeviceKey() const;
    bool deviceKeysCompleted() const;
    std::optional<std::uint16_t> listenPort() const;
    // The stored identifier, or a new UUID string saved under it when none is stored or the stored one
    // cannot be advertised; one that could not be saved is given again for the rest of the run.
    std::string hostID() const;

    // Each saves the value; false when it could not be saved.
    bool setAllowRemoteAccess(bool allow) const;
    bool setAllowAwayAccess(bool allow) const;
    bool setAwayAccessDays(int days) const;
    bool setAllowsAwayWithoutDeviceKey(bool allows) const;
    bool setDeviceKeysCompleted() const;
    bool setListenPort(std::uint16_t port) const;

    static int awayAccessDays(std::optional<std::int64_t> stored);

private:
    const std::shared_ptr<DefaultsStore> defaults_;
};

} // namespace velm
