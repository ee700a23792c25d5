#include "transport/keys/KeychainStore.h"

#include "platform/core/Utf8.h"
#include "platform/log/Log.h"

#include <utility>

namespace velm {

KeychainStore::KeychainStore(std::string service)
    : KeychainStore(std::move(service), GenericPasswordStore(GenericPasswordStore::standardFolder())) {}

KeychainStore::KeychainStore(std::string service, GenericPasswordStore items)
    : service_(std::move(service)), items_(std::move(items)) {}

std::optional<std::string> KeychainStore::read(std::string_view account) const {
    auto bytes = items_.read(service_, account);
    if (!bytes) {
        return std::nullopt;
    }
    std::string text = toString(*bytes);
    if (!Utf8::isValid(text)) {
        return std::nullopt;
    }
    return text;
}

bool KeychainStore::write(std::optional<std::string_view> value, std::string_view account) const {
    if (!value) {
        return items_.remove(service_, account);
    }
    if (!Utf8::isValid(*value)) {
        Log("store").error("refused a secret that is not utf-8");
        return false;
    }
    return items_.write(service_, account,
                        ByteView(reinterpret_cast<const std::uint8_t*>(value->data()), value->size()));
}

} // namespace velm
