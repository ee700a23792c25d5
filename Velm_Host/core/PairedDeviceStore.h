#pragma once

#include "Velm_Host/core/PairedDevice.h"
#include "transport/keys/KeychainStore.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// Where the paired devices and the carried-over pairing code are kept: two items of the
// host's secrets service. Every paired device sits in one JSON list, so a save replaces the
// whole list at once, and a save that fails leaves the stored list as it was.
//
// The list is read entry by entry: an entry that cannot be read or cannot be used (its
// identifier could not be a TLS identity, its key is not 32 bytes, its identifier came
// before) is dropped and logged, and the others are kept.
//
// Callable from any thread: each write holds the secrets folder's lock. Of two saves at once,
// though, whichever takes that lock last stays, so an owner that changes the list from several
// threads saves one list at a time, in the order of its changes (as DeviceRegistry does).
class PairedDeviceStore {
public:
    static constexpr std::string_view keychainService = "pellam.Velm.Host";
    static constexpr std::string_view devicesAccount = "paired-devices-v1";
    // A code shown by an earlier version of the host and still waiting to be typed.
    static constexpr std::string_view pairingCodeAccount = "pairing-code";
    // Codes are six characters; anything else in that item is not a code.
    static constexpr std::size_t carriedOverCodeLength = 6;
    // More entries than this are not read: the list is handed whole to the TLS listener.
    static constexpr std::size_t maxDevices = 100;

    // A stored list that cannot be used is kept under the item's name with this after it.
    static constexpr std::string_view unreadableSuffix = "unreadable";

    struct Loaded {
        enum class Status {
            read,        // the stored devices, or none when no list is stored
            setAside,    // the list cannot be used (untrusted, not a list) and was kept aside: none
            unavailable, // the list is there but could not be read this time: none for now
            notSetAside, // the list cannot be used and could not be moved aside either: none
        };
        Status status;
        std::vector<PairedDevice> devices;

        // Whether a save may replace what is stored: not while a list is there unread.
        bool allowsSaving() const { return status == Status::read || status == Status::setAside; }
    };

    explicit PairedDeviceStore(KeychainStore keychain) : keychain_(std::move(keychain)) {}

    // The stored devices in list order. A list that cannot be used is moved aside (and logged) so that a
    // person can recover it; one that cannot be read this time stays as it is.
    Loaded load() const;
    // True once the stored list is exactly `devices`.
    bool save(const std::vector<PairedDevice>& devices) const;

    std::optional<std::string> carriedOverCode() const;
    bool forgetCarriedOverCode() const;

    // The stored form of a list, or nothing when a value cannot be written (a number that is
    // not finite).
    static std::optional<std::string> encode(const std::vector<PairedDevice>& devices);
    // The readable entries of a stored list (the others are logged and dropped); absent when the stored
    // form is not a list at all.
    static std::optional<std::vector<PairedDevice>> decode(std::string_view stored);

private:
    Loaded setAside(const char* why) const;

    KeychainStore keychain_;
};

} // namespace velm
