#pragma once

#include "platform/core/Bytes.h"
#include "platform/store/StoreFolder.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// Small secrets addressed by a service and an account, one private file per item in a private folder.
// The file of an item is named by the hex of its service's and its account's bytes, joined by "-", so any
// names are safe and no two items share a file. Items are readable without the user once this account can
// read its files, and they stay on this machine's disk (nothing is synchronised anywhere).
class GenericPasswordStore {
public:
    explicit GenericPasswordStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // $XDG_DATA_HOME/velm-host/keychain
    static std::filesystem::path standardFolder();

    const std::filesystem::path& folder() const { return folder_.path(); }

    // Absent when there is no such item or it cannot be read or trusted.
    std::optional<Bytes> read(std::string_view service, std::string_view account) const;
    // Replaces the item atomically: on false the previous secret is still there.
    bool write(std::string_view service, std::string_view account, ByteView secret) const;
    // True when the item is gone afterwards, whether or not it existed.
    bool remove(std::string_view service, std::string_view account) const;

    // The file name of an item; absent when the names are too long for one.
    static std::optional<std::string> itemName(std::string_view service, std::string_view account);

private:
    StoreFolder folder_;
};

} // namespace velm
