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

    // Absent when there is no item, it cannot be read, or it is not UTF-8.
    std::optional<std::string> read(std::string_view account) const;
    // Stores the value, or removes the item when the value is absent. True only when the item now holds
    // the value, or is gone; false also for a value that is not UTF-8.
    bool write(std::optional<std::string_view> value, std::string_view account) const;

private:
    std::string service_;
    GenericPasswordStore items_;
};

} // namespace velm
