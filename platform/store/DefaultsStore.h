#pragma once

#include "platform/store/DefaultsDocument.h"
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
// expects to be that file's only writer. After every save, and when it reads a good file, it keeps the
// same contents as "defaults.json.last-good" beside it. A file whose contents cannot be read as settings
// (damaged, too large, not a regular file) is kept beside it as "defaults.json.corrupt-<UTC time>" and the
// store starts from the last good copy, written back as the settings file, or from the defaults when that
// copy is missing or damaged too. A file that cannot be opened or read this time (no descriptors left, an
// I/O error) is left where it is: until a later try reads it, which every write makes first, keys read as
// their defaults and writes fail. A folder that cannot be used at all (a file in its place, another user's,
// one that cannot be made) makes the store keep its settings in memory, as if made without a folder; one
// that only cannot be written (a read-only file system) does too, starting from the file it holds.
// Each of these is logged once and told by notice(). Entries it does not understand read as unset and are
// written back unchanged.
class DefaultsStore {
public:
    static constexpr std::string_view fileName = "defaults.json";
    static constexpr std::string_view lastGoodName = "defaults.json.last-good";

    // Keeps everything in memory only.
    DefaultsStore();
    // Backed by folder/defaults.json.
    explicit DefaultsStore(std::filesystem::path folder);

    DefaultsStore(const DefaultsStore&) = delete;
    DefaultsStore& operator=(const DefaultsStore&) = delete;

    // $XDG_CONFIG_HOME/velm-host
    static std::filesystem::path standardFolder();

    // What a person should be told of how the settings were read, when it was not plainly from the
    // settings file: which copy was used, or why settings are not saved.
    std::optional<std::string> notice() const;

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

    // Whether what the settings file holds is in hand, trying to read it again when it could not be read
    // before. Until it is, keys read as their defaults: a caller that would write back a value built on
    // what it read waits for this, or it would write over what it never saw.
    bool hasRead();

private:
    using Entries = DefaultsDocument::Entries;

    // Reads the file into stored_; leaves loaded_ false when it could not be opened or read this time.
    void load();
    // Reads what a folder that cannot be written holds, for a run that keeps its settings in memory.
    void startFromReadOnlyFile();
    void install(Entries entries);
    // The settings file is damaged: sets it aside and starts from the last good copy.
    void recover(const std::string& why);
    void keepAsLastGood(const Bytes& contents) const;
    void tell(std::string notice);
    bool isLoaded();
    // Writes every entry to the file, or does nothing in memory; true when they are stored.
    bool persist(const Entries& entries) const;
    bool commit(Entries next);

    std::optional<StoreFolder> folder_;
    // Cleared when an unreadable file could not be moved aside: writing would destroy it.
    bool writable_ = true;
    // Set when the folder cannot be used: writes stay in memory.
    bool inMemoryOnly_ = false;
    std::optional<std::string> notice_;
    // Set once the file was read, found missing or set aside; touched under writeLock_ after construction.
    bool loaded_ = false;

    std::mutex writeLock_;
    mutable std::shared_mutex lock_;
    Entries stored_;
    std::map<std::string, DefaultsValue, std::less<>> registered_;
};

} // namespace velm
