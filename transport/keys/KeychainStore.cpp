#include "transport/keys/KeychainStore.h"

#include "platform/core/Utf8.h"
#include "platform/crypto/SecureWipe.h"
#include "platform/log/Log.h"

#include <utility>

namespace velm {

KeychainStore::KeychainStore(std::string service)
    : KeychainStore(std::move(service), GenericPasswordStore(GenericPasswordStore::standardFolder())) {}

KeychainStore::KeychainStore(std::string service, GenericPasswordStore items)
    : service_(std::move(service)), items_(std::move(items)) {}

std::optional<std::string> KeychainStore::read(std::string_view account) const {
    auto item = readItem(account);
    if (item.status != ReadResult::Status::found) {
        return std::nullopt;
    }
    return std::move(item.text);
}

KeychainStore::ReadResult KeychainStore::readItem(std::string_view account) const {
    auto item = items_.readItem(service_, account);
    if (item.status != ReadResult::Status::found) {
        return {item.status, {}};
    }
    ReadResult result{ReadResult::Status::found, toString(item.contents)};
    // Only the text goes on: the secret must not stay behind in freed memory.
    secureWipe(item.contents);
    if (!Utf8::isValid(result.text)) {
        Log("store").error("secret %s of %s is not utf-8; not used", std::string(account).c_str(),
                           service_.c_str());
        secureWipe(result.text);
        return {ReadResult::Status::failed, {}};
    }
    return result;
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

std::optional<std::string> KeychainStore::moveAside(std::string_view account, std::string_view suffix) const {
    return items_.moveAside(service_, account, suffix);
}

} // namespace velm
