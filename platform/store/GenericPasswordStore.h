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
    // The item, or why there is none: missing, failed (there but not to be trusted) or unavailable (not
    // readable this time). An item whose names are too long for a file cannot exist: missing.
    StoreFolder::ReadResult readItem(std::string_view service, std::string_view account) const;
    // Replaces the item atomically: on false the previous secret is still there.
    bool write(std::string_view service, std::string_view account, ByteView secret) const;
    // True when the item is gone afterwards, whether or not it existed.
    bool remove(std::string_view service, std::string_view account) const;
    // Keeps an item that cannot be used under another file name, "<item name>-<suffix>" (or with "-2",
    // "-3", ... after it), for a person to look at; it is no longer an item then. The file name used, or
    // absent when it could not be moved.
    std::optional<std::string> moveAside(std::string_view service, std::string_view account,
                                         std::string_view suffix) const;

    // The file name of an item; absent when the names are too long for one.
    static std::optional<std::string> itemName(std::string_view service, std::string_view account);

private:
    StoreFolder folder_;
};

} // namespace velm
