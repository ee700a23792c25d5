#include "platform/store/DefaultsStore.h"

#include "platform/core/Utf8.h"
#include "platform/log/Log.h"
#include "platform/store/DefaultsDocument.h"
#include "platform/store/DefaultsEntry.h"
#include "platform/store/XdgDirs.h"

#include <ctime>
#include <utility>

namespace velm {
namespace {

using Json = nlohmann::json;

const Log defaultsStoreLog("store");

std::string utcStamp() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

template <typename T> std::optional<T> valueAs(std::optional<DefaultsValue> value) {
    if (!value || !std::holds_alternative<T>(*value)) {
        return std::nullopt;
    }
    return std::get<T>(std::move(*value));
}

} // namespace

DefaultsStore::DefaultsStore() : loaded_(true) {}

DefaultsStore::DefaultsStore(std::filesystem::path folder) : folder_(std::in_place, std::move(folder)) {
    load();
}

std::filesystem::path DefaultsStore::standardFolder() {
    return XdgDirs::configHome() / "velm-host";
}

void DefaultsStore::load() {
    // A folder we cannot use fails every read and write alike: said once, for what it is.
    if (auto unusable = folder_->whyUnusable()) {
        loaded_ = true;
        inMemoryOnly_ = true;
        tell("settings cannot be saved: " + unusable->why + "; they are kept in memory for this run only");
        // A home on a read-only file system still holds what was saved before: the run starts from it.
        if (unusable->readable) {
            startFromReadOnlyFile();
        }
        return;
    }
    auto file = folder_->read(fileName);
    switch (file.status) {
    case StoreFolder::ReadResult::Status::missing:
        loaded_ = true;
        return;
    case StoreFolder::ReadResult::Status::unavailable:
        // Nothing is wrong with the file itself: moving it aside would lose every setting.
        tell("settings file cannot be read now; defaults for now, trying again before the next save");
        return;
    case StoreFolder::ReadResult::Status::failed:
        loaded_ = true;
        recover("cannot be read");
        return;
    case StoreFolder::ReadResult::Status::found:
        break;
    }
    loaded_ = true;
    auto entries = DefaultsDocument::decode(file.contents);
    if (!entries) {
        recover("is damaged");
        return;
    }
    install(std::move(*entries));
    keepAsLastGood(file.contents);
}

void DefaultsStore::startFromReadOnlyFile() {
    const auto file = folder_->read(fileName);
    auto entries = file.status == StoreFolder::ReadResult::Status::found
                       ? DefaultsDocument::decode(file.contents)
                       : std::nullopt;
    if (entries) {
        install(std::move(*entries));
    }
}

void DefaultsStore::install(Entries entries) {
    for (const auto& [key, entry] : entries) {
        if (!DefaultsEntry::decode(entry)) {
            defaultsStoreLog.error("setting %s has a form not understood; kept as it is", key.c_str());
        }
    }
    std::unique_lock guard(lock_);
    stored_.swap(entries);
}

// The damaged file is kept for whoever wants to look at it; the last good copy takes its place.
void DefaultsStore::recover(const std::string& why) {
    const auto aside = folder_->moveAside(fileName, std::string(fileName) + ".corrupt-" + utcStamp());
    writable_ = aside.has_value();
    auto copy = folder_->read(lastGoodName);
    auto good = copy.status == StoreFolder::ReadResult::Status::found
                    ? DefaultsDocument::decode(copy.contents)
                    : std::nullopt;
    std::string told =
        "settings file " + why + ": " + (aside ? "kept as " + *aside : "it cannot be moved aside");
    if (good) {
        told += ", started from its last good copy";
        install(std::move(*good));
    } else {
        told +=
            std::string(", started from defaults (") +
            (copy.status == StoreFolder::ReadResult::Status::missing ? "there is no last good copy"
                                                                     : "its last good copy is damaged too") +
            ")";
    }
    if (!writable_) {
        told += "; settings will not be saved";
    }
    tell(told);
    // Until it is written again, the next start would find no settings file at all.
    if (good && writable_) {
        persist(stored_);
    }
}

void DefaultsStore::keepAsLastGood(const Bytes& contents) const {
    const auto copy = folder_->read(lastGoodName);
    if (copy.status != StoreFolder::ReadResult::Status::found || copy.contents != contents) {
        folder_->replace(lastGoodName, contents);
    }
}

void DefaultsStore::tell(std::string notice) {
    defaultsStoreLog.error("%s", notice.c_str());
    std::unique_lock guard(lock_);
    notice_ = std::move(notice);
}

std::optional<std::string> DefaultsStore::notice() const {
    std::shared_lock guard(lock_);
    return notice_;
}

void DefaultsStore::registerDefaults(const std::map<std::string, DefaultsValue>& defaults) {
    std::unique_lock guard(lock_);
    for (const auto& [key, value] : defaults) {
        registered_.insert_or_assign(key, value);
    }
}

std::optional<DefaultsValue> DefaultsStore::value(std::string_view key) const {
    std::shared_lock guard(lock_);
    if (auto entry = stored_.find(key); entry != stored_.end()) {
        if (auto decoded = DefaultsEntry::decode(entry->second)) {
            return decoded;
        }
    }
    if (auto fallback = registered_.find(key); fallback != registered_.end()) {
        return fallback->second;
    }
    return std::nullopt;
}

std::optional<bool> DefaultsStore::boolValue(std::string_view key) const {
    return valueAs<bool>(value(key));
}

std::optional<std::int64_t> DefaultsStore::integerValue(std::string_view key) const {
    return valueAs<std::int64_t>(value(key));
}

std::optional<double> DefaultsStore::doubleValue(std::string_view key) const {
    auto found = value(key);
    if (found && std::holds_alternative<std::int64_t>(*found)) {
        return static_cast<double>(std::get<std::int64_t>(*found));
    }
    return valueAs<double>(std::move(found));
}

std::optional<std::string> DefaultsStore::stringValue(std::string_view key) const {
    return valueAs<std::string>(value(key));
}

std::optional<Bytes> DefaultsStore::dataValue(std::string_view key) const {
    return valueAs<Bytes>(value(key));
}

std::optional<Json> DefaultsStore::jsonValue(std::string_view key) const {
    return valueAs<Json>(value(key));
}

bool DefaultsStore::set(std::string_view key, const DefaultsValue& value) {
    if (!Utf8::isValid(key)) {
        defaultsStoreLog.error("refused a setting whose key is not utf-8");
        return false;
    }
    auto entry = DefaultsEntry::encode(value);
    if (!entry) {
        defaultsStoreLog.error("refused a value for setting %.*s that cannot be stored",
                               static_cast<int>(key.size()), key.data());
        return false;
    }
    std::lock_guard writer(writeLock_);
    if (!isLoaded()) {
        return false;
    }
    Entries next = stored_;
    next.insert_or_assign(std::string(key), std::move(*entry));
    return commit(std::move(next));
}

bool DefaultsStore::remove(std::string_view key) {
    std::lock_guard writer(writeLock_);
    if (!isLoaded()) {
        return false;
    }
    if (stored_.find(key) == stored_.end()) {
        return true;
    }
    Entries next = stored_;
    next.erase(next.find(key));
    return commit(std::move(next));
}

bool DefaultsStore::hasRead() {
    std::lock_guard writer(writeLock_);
    if (!loaded_) {
        load();
    }
    return loaded_;
}

// Runs under writeLock_. Writing before the file was read would replace settings never seen.
bool DefaultsStore::isLoaded() {
    if (!loaded_) {
        load();
    }
    if (!loaded_) {
        defaultsStoreLog.error("settings not saved: the settings file still cannot be read");
    }
    return loaded_;
}

// Runs under writeLock_, so stored_ changes only here and may be read without lock_.
bool DefaultsStore::commit(Entries next) {
    if (!persist(next)) {
        return false;
    }
    std::unique_lock guard(lock_);
    stored_.swap(next);
    return true;
}

bool DefaultsStore::persist(const Entries& entries) const {
    if (!folder_ || inMemoryOnly_) {
        return true;
    }
    if (!writable_) {
        // Said once, when the file was found damaged.
        return false;
    }
    const auto text = DefaultsDocument::encode(entries);
    if (!text) {
        defaultsStoreLog.error("cannot encode the settings");
        return false;
    }
    if (!folder_->replace(fileName, toBytes(*text))) {
        return false;
    }
    // A failure here loses nothing yet: the settings file itself is good.
    folder_->replace(lastGoodName, toBytes(*text));
    return true;
}

} // namespace velm
