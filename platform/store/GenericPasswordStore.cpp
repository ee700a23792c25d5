#include "platform/store/GenericPasswordStore.h"

#include "platform/log/Log.h"
#include "platform/store/XdgDirs.h"

namespace velm {
namespace {

const Log genericPasswordStoreLog("store");

// Leaves room for the ".tmp" of a replacement within the 255 bytes of a file name.
constexpr std::size_t maxItemNameBytes = 250;

void appendHex(std::string& out, std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
}

} // namespace

std::filesystem::path GenericPasswordStore::standardFolder() {
    return XdgDirs::dataHome() / "velm-host" / "keychain";
}

std::optional<std::string> GenericPasswordStore::itemName(std::string_view service,
                                                          std::string_view account) {
    if (2 * (service.size() + account.size()) + 1 > maxItemNameBytes) {
        return std::nullopt;
    }
    std::string name;
    appendHex(name, service);
    name += '-';
    appendHex(name, account);
    return name;
}

std::optional<Bytes> GenericPasswordStore::read(std::string_view service, std::string_view account) const {
    auto item = readItem(service, account);
    if (item.status != StoreFolder::ReadResult::Status::found) {
        return std::nullopt;
    }
    return std::move(item.contents);
}

StoreFolder::ReadResult GenericPasswordStore::readItem(std::string_view service,
                                                       std::string_view account) const {
    auto name = itemName(service, account);
    if (!name) {
        return {StoreFolder::ReadResult::Status::missing, {}};
    }
    return folder_.read(*name);
}

bool GenericPasswordStore::write(std::string_view service, std::string_view account, ByteView secret) const {
    auto name = itemName(service, account);
    if (!name) {
        genericPasswordStoreLog.error("refused a secret whose service and account names are too long");
        return false;
    }
    return folder_.replace(*name, secret);
}

bool GenericPasswordStore::remove(std::string_view service, std::string_view account) const {
    // An item that cannot be named cannot exist either.
    auto name = itemName(service, account);
    return !name || folder_.remove(*name);
}

std::optional<std::string> GenericPasswordStore::moveAside(std::string_view service, std::string_view account,
                                                           std::string_view suffix) const {
    // Item names hold only hex digits and "-": a suffix with other letters never names an item.
    auto name = itemName(service, account);
    if (!name) {
        return std::nullopt;
    }
    return folder_.moveAside(*name, *name + "-" + std::string(suffix));
}

} // namespace velm
