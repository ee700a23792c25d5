#include "Velm_Host/core/PairedDeviceStore.h"

#include "platform/crypto/SecureWipe.h"
#include "platform/log/Log.h"
#include "transport/keys/Pairing.h"
#include "transport/keys/PreSharedKey.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

namespace velm {
namespace {

const Log pairedDeviceStoreLog("pairing");

// Why a readable entry cannot be used, or nothing.
std::optional<std::string> problemOf(const PairedDevice& device, const std::vector<PairedDevice>& kept) {
    if (const auto error = PreSharedKey::identityError(device.id)) {
        return std::string(PreSharedKey::describe(*error));
    }
    if (device.key.size() != Pairing::deviceKeyLength) {
        return "device key is not 32 bytes";
    }
    const bool seen = std::any_of(kept.begin(), kept.end(),
                                  [&](const PairedDevice& other) { return other.id == device.id; });
    if (seen) {
        return "device identifier appears twice";
    }
    if (kept.size() >= PairedDeviceStore::maxDevices) {
        return "too many devices";
    }
    return std::nullopt;
}

// Overwrites every string of a tree that held keys, as their Base64 text, before it is freed. Goes
// without recursion: a damaged list may nest as deep as its file is long.
template <typename Tree> void wipeStrings(Tree& root) {
    std::vector<Tree*> pending{&root};
    while (!pending.empty()) {
        Tree& node = *pending.back();
        pending.pop_back();
        if (node.is_string()) {
            secureWipe(node.template get_ref<std::string&>());
        } else if (node.is_structured()) {
            for (Tree& child : node) {
                pending.push_back(&child);
            }
        }
    }
}

std::vector<PairedDevice> readEntries(const nlohmann::json& list) {
    std::vector<PairedDevice> devices;
    for (std::size_t i = 0; i < list.size(); ++i) {
        try {
            const JsonPath path;
            PairedDevice device = JsonReader(list[i], path).read<PairedDevice>();
            if (const auto problem = problemOf(device, devices)) {
                pairedDeviceStoreLog.error("dropped paired device %zu: %s", i, problem->c_str());
                continue;
            }
            devices.push_back(std::move(device));
        } catch (const JsonError& error) {
            pairedDeviceStoreLog.error("dropped unreadable paired device %zu: %s", i, error.what());
        }
    }
    return devices;
}

std::size_t characterCount(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

} // namespace

PairedDeviceStore::Loaded PairedDeviceStore::load() const {
    auto stored = keychain_.readItem(devicesAccount);
    switch (stored.status) {
    case KeychainStore::ReadResult::Status::missing:
        return {Loaded::Status::read, {}};
    case KeychainStore::ReadResult::Status::unavailable:
        pairedDeviceStoreLog.error(
            "stored paired devices cannot be read now; none for now, the list is kept");
        return {Loaded::Status::unavailable, {}};
    case KeychainStore::ReadResult::Status::failed:
        return setAside("cannot be trusted");
    case KeychainStore::ReadResult::Status::found:
        break;
    }
    auto devices = decode(stored.text);
    secureWipe(stored.text);
    if (!devices) {
        return setAside("are unreadable");
    }
    return {Loaded::Status::read, std::move(*devices)};
}

// The old list may be all that is left of the pairings: a person may still recover it.
PairedDeviceStore::Loaded PairedDeviceStore::setAside(const char* why) const {
    const auto aside = keychain_.moveAside(devicesAccount, unreadableSuffix);
    if (!aside) {
        pairedDeviceStoreLog.error("stored paired devices %s and cannot be moved aside; starting with none, "
                                   "the list is kept",
                                   why);
        return {Loaded::Status::notSetAside, {}};
    }
    pairedDeviceStoreLog.error("stored paired devices %s; kept as %s, starting with none", why,
                               aside->c_str());
    return {Loaded::Status::setAside, {}};
}

bool PairedDeviceStore::save(const std::vector<PairedDevice>& devices) const {
    auto stored = encode(devices);
    if (!stored) {
        pairedDeviceStoreLog.error("paired devices not saved: a value cannot be written");
        return false;
    }
    const bool written = keychain_.write(*stored, devicesAccount);
    secureWipe(*stored);
    if (!written) {
        pairedDeviceStoreLog.error("paired devices not saved: the secrets store refused the write");
        return false;
    }
    return true;
}

std::optional<std::string> PairedDeviceStore::carriedOverCode() const {
    auto code = keychain_.read(pairingCodeAccount);
    if (!code || characterCount(*code) != carriedOverCodeLength) {
        return std::nullopt;
    }
    return code;
}

bool PairedDeviceStore::forgetCarriedOverCode() const {
    return keychain_.write(std::nullopt, pairingCodeAccount);
}

std::optional<std::string> PairedDeviceStore::encode(const std::vector<PairedDevice>& devices) {
    nlohmann::ordered_json root;
    std::optional<std::string> text;
    try {
        const JsonPath path;
        JsonWriter(root, path).write(devices);
        text = root.dump();
    } catch (const JsonError&) {
    }
    wipeStrings(root);
    return text;
}

std::optional<std::vector<PairedDevice>> PairedDeviceStore::decode(std::string_view stored) {
    auto root = nlohmann::json::parse(stored.begin(), stored.end(), nullptr, /*allow_exceptions=*/false);
    auto devices = root.is_array() ? std::optional(readEntries(root)) : std::nullopt;
    wipeStrings(root);
    return devices;
}

} // namespace velm
