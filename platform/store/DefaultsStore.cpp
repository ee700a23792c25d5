#include "platform/store/DefaultsStore.h"

#include "platform/core/Utf8.h"
#include "platform/log/Log.h"
#include "platform/store/DefaultsEntry.h"
#include "platform/store/XdgDirs.h"

#include <ctime>
#include <utility>

namespace velm {
namespace {

using Json = nlohmann::json;

const Log storeLog("store");

std::string utcStamp() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// The whole document, or absent when it is not a JSON object or nests deeper than any entry may.
std::optional<Json> parseDocument(const Bytes& contents) {
    bool tooDeep = false;
    // The document and an entry's wrapper add two levels above a value. Returning false drops a too-deep
    // part without building it, so a hostile file cannot make us allocate its whole depth.
    auto limitDepth = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        if (depth > DefaultsEntry::maxDepth + 2) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    Json document = Json::parse(contents.begin(), contents.end(), limitDepth, false);
    if (tooDeep || !document.is_object()) {
        return std::nullopt;
    }
    return document;
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
    auto file = folder_->read(fileName);
    switch (file.status) {
    case StoreFolder::ReadResult::Status::missing:
        loaded_ = true;
        return;
    case StoreFolder::ReadResult::Status::unavailable:
        // Nothing is wrong with the file itself: moving it aside would lose every setting.
        storeLog.error(
            "settings file cannot be read now; defaults for now, trying again before the next save");
        return;
    case StoreFolder::ReadResult::Status::failed:
        loaded_ = true;
        setAside("cannot be read");
        return;
    case StoreFolder::ReadResult::Status::found:
        break;
    }
    loaded_ = true;
    auto document = parseDocument(file.contents);
    if (!document) {
        setAside("is not valid");
        return;
    }
    Entries entries;
    for (auto& [key, entry] : document->get_ref<Json::object_t&>()) {
        if (!DefaultsEntry::decode(entry)) {
            storeLog.error("setting %s has a form not understood; kept as it is", key.c_str());
        }
        entries.emplace(key, std::move(entry));
    }
    std::unique_lock guard(lock_);
    stored_.swap(entries);
}

void DefaultsStore::setAside(const char* why) {
    std::string aside = std::string(fileName) + ".corrupt-" + utcStamp();
    if (auto moved = folder_->moveAside(fileName, aside)) {
        storeLog.error("settings file %s; kept as %s, starting from defaults", why, moved->c_str());
        return;
    }
    writable_ = false;
    storeLog.error("settings file %s and cannot be moved aside; settings will not be saved", why);
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
        storeLog.error("refused a setting whose key is not utf-8");
        return false;
    }
    auto entry = DefaultsEntry::encode(value);
    if (!entry) {
        storeLog.error("refused a value for setting %.*s that cannot be stored", static_cast<int>(key.size()),
                       key.data());
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

// Runs under writeLock_. Writing before the file was read would replace settings never seen.
bool DefaultsStore::isLoaded() {
    if (!loaded_) {
        load();
    }
    if (!loaded_) {
        storeLog.error("settings not saved: the settings file still cannot be read");
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
    if (!folder_) {
        return true;
    }
    if (!writable_) {
        storeLog.error("settings not saved: the unreadable settings file is still in the way");
        return false;
    }
    std::string text;
    try {
        text = Json(Json::object_t(entries.begin(), entries.end())).dump(2) + "\n";
    } catch (const Json::exception& error) {
        storeLog.error("cannot encode the settings: %s", error.what());
        return false;
    }
    return folder_->replace(fileName, toBytes(text));
}

} // namespace velm
