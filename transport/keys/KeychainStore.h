#pragma once

#include "platform/store/GenericPasswordStore.h"

#include <optional>
#include <string>
#include <string_view>

namespace velm {

// Small secrets kept as strings, named by this store's service and the caller's account. The host keeps
// all paired devices in one item ("paired-devices-v1") and the carried-over pairing code in another
// ("pairing-code"), so a write replaces an item atomically: when it fails, the old value stays.
class KeychainStore {
public:
    // Uses the user's standard secrets folder.
    explicit KeychainStore(std::string service);
    KeychainStore(std::string service, GenericPasswordStore items);

    const std::string& service() const { return service_; }

    // An item's text, or why there is none. Text that is not UTF-8 is not to be trusted: failed.
    struct ReadResult {
        using Status = StoreFolder::ReadResult::Status;
        Status status;
        std::string text; // when found
    };

    // Absent when there is no item, it cannot be read, or it is not UTF-8.
    std::optional<std::string> read(std::string_view account) const;
    // Tells a missing item from one that is there but cannot be trusted or cannot be read this time.
    ReadResult readItem(std::string_view account) const;
    // Stores the value, or removes the item when the value is absent. True only when the item now holds
    // the value, or is gone; false also for a value that is not UTF-8.
    bool write(std::optional<std::string_view> value, std::string_view account) const;
    // Keeps an item that cannot be used as "<item name>-<suffix>" for a person to recover; the file name
    // used, or absent when it could not be moved.
    std::optional<std::string> moveAside(std::string_view account, std::string_view suffix) const;

private:
    std::string service_;
    GenericPasswordStore items_;
};

} // namespace velm
