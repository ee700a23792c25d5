#pragma once

#include "platform/store/DefaultsValue.h"
#include "platform/store/StoreFolder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace velm {

// The user's settings: a typed key-value store with registered defaults.
//
// Reading a key gives the stored value, else the registered default, else absent. The typed readers give
// absent when that value has another type (an integer is also read as a double). Registered defaults live
// in memory only. Readers may call from any thread; writers take turns, and each write is in memory and,
// for a file-backed store, on disk before it returns true. A write that fails changes nothing.
//
// A file-backed store keeps everything in "defaults.json" in its folder and reads it once, when made; it
// expects to be that file's only writer. A file whose contents cannot be read as settings (not valid, too
// large, not a regular file) is kept beside it as "defaults.json.corrupt-<UTC time>" and the store starts
// from the defaults. A file that cannot be opened or read this time (no descriptors left, an I/O error) is
// left where it is: until a later try reads it, which every write makes first, keys read as their defaults
// and writes fail. Entries it does not understand read as unset and are written back unchanged.
class DefaultsStore {
public:
    static constexpr std::string_view fileName = "defaults.json";

    // Keeps everything in memory only.
    DefaultsStore();
    // Backed by folder/defaults.json.
    explicit DefaultsStore(std::filesystem::path folder);

    DefaultsStore(const DefaultsStore&) = delete;
    DefaultsStore& operator=(const DefaultsStore&) = delete;

    // $XDG_CONFIG_HOME/velm-host
    static std::filesystem::path standardFolder();

    // Adds to the registered defaults; a key registered again takes the newer value.
    void registerDefaults(const std::map<std::string, DefaultsValue>& defaults);

    std::optional<DefaultsValue> value(std::string_view key) const;
    std::optional<bool> boolValue(std::string_view key) const;
    std::optional<std::int64_t> integerValue(std::string_view key) const;
    std::optional<double> doubleValue(std::string_view key) const;
    std::optional<std::string> stringValue(std::string_view key) const;
    std::optional<Bytes> dataValue(std::string_view key) const;
    std::optional<nlohmann::json> jsonValue(std::string_view key) const;

    // False, with nothing changed, for a key or value that the file cannot carry (text that is not UTF-8,
    // a non-finite double) and when the file cannot be written.
    bool set(std::string_view key, const DefaultsValue& value);
    bool setBool(std::string_view key, bool value) { return set(key, DefaultsValue(value)); }
    bool setInteger(std::string_view key, std::int64_t value) { return set(key, DefaultsValue(value)); }
    bool setDouble(std::string_view key, double value) { return set(key, DefaultsValue(value)); }
    bool setString(std::string_view key, std::string value) {
        return set(key, DefaultsValue(std::in_place_type<std::string>, std::move(value)));
    }
    bool setData(std::string_view key, Bytes value) {
        return set(key, DefaultsValue(std::in_place_type<Bytes>, std::move(value)));
    }
    bool setJson(std::string_view key, nlohmann::json value) {
        return set(key, DefaultsValue(std::in_place_type<nlohmann::json>, std::move(value)));
    }

    // Back to the registered default; true also when nothing was stored.
    bool remove(std::string_view key);

private:
    using Entries = std::map<std::string, nlohmann::json, std::less<>>;

    // Reads the file into stored_; leaves loaded_ false when it could not be opened or read this time.
    void load();
    bool isLoaded();
    void setAside(const char* why);
    // Writes every entry to the file, or does nothing in memory; true when they are stored.
    bool persist(const Entries& entries) const;
    bool commit(Entries next);

    std::optional<StoreFolder> folder_;
    // Cleared when an unreadable file could not be moved aside: writing would destroy it.
    bool writable_ = true;
    // Set once the file was read, found missing or set aside; touched under writeLock_ after construction.
    bool loaded_ = false;

    std::mutex writeLock_;
    mutable std::shared_mutex lock_;
    Entries stored_;
    std::map<std::string, DefaultsValue, std::less<>> registered_;
};

} // namespace velm
