#pragma once

#include "platform/core/CaseValue.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace velm {

struct HostNoticeCases {
    struct DevicePaired {
        std::string deviceName;
        friend bool operator==(const DevicePaired&, const DevicePaired&) = default;
    };
    // A device offered a pairing code that was not the one shown.
    struct WrongPairingCode {
        int triesLeft = 0;
        friend bool operator==(const WrongPairingCode&, const WrongPairingCode&) = default;
    };
    // A device's hello was turned away.
    struct SessionRefused {
        std::string deviceName; // as it was paired; a device not paired, as it named itself
        std::string reason;
        friend bool operator==(const SessionRefused&, const SessionRefused&) = default;
    };
    struct FileReceived {
        std::string name; // as it was stored, which may differ from the name the device gave
        std::uint64_t size = 0;
        std::filesystem::path folder;
        friend bool operator==(const FileReceived&, const FileReceived&) = default;
    };
};

// Something that happened which a person running the host should hear of as it happens, beside the
// state the host publishes: it leaves no trace there (a refusal, a file that arrived) or only an
// ambiguous one (a device paired again).
class HostNotice : public HostNoticeCases,
                   public CaseValue<HostNoticeCases::DevicePaired, HostNoticeCases::WrongPairingCode,
                                    HostNoticeCases::SessionRefused, HostNoticeCases::FileReceived> {
public:
    using CaseValue::CaseValue;
};

} // namespace velm
