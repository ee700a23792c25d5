#pragma once

#include "platform/core/Date.h"
#include "platform/crypto/SecretBytes.h"
#include "transport/away/door/Door.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// A paired device as away access sees it.
struct AwayDevice {
    std::string id;
    SecretBytes key;
    // When its away access lapses; none for no end.
    std::optional<Date> until;

    friend bool operator==(const AwayDevice&, const AwayDevice&) = default;
};

// The paired devices as the host model hands them over, in its order (newest first). Only the
// first few whose access is active get doors, so that the keyring and the door table stay small
// whatever is paired.
class AwayDevices {
public:
    static constexpr std::size_t maxActive = 6;

    AwayDevices() = default;
    explicit AwayDevices(std::vector<AwayDevice> devices) : devices_(std::move(devices)) {}

    // The devices whose access has not lapsed at `now` (one lapsing exactly then has), in list
    // order, cut to the first maxActive.
    std::vector<Door::Keyring::Device> active(Date now) const;

private:
    std::vector<AwayDevice> devices_;
};

} // namespace velm
