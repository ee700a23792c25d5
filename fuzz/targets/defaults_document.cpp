// The whole settings file and its last good copy, which any program of the user may have written:
// what decodes encodes to text that decodes to the same entries, and encodes again byte for byte.
#include "fuzz/Target.h"
#include "platform/store/DefaultsDocument.h"
#include "platform/store/DefaultsEntry.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    DefaultsDocument::Entries entries;
    entries["allowRemoteAccess"] = *DefaultsEntry::encode(DefaultsValue(true));
    entries["listenPort"] = *DefaultsEntry::encode(DefaultsValue(std::int64_t{50123}));
    entries["hostID"] = *DefaultsEntry::encode(DefaultsValue(std::in_place_type<std::string>, "HOST-1"));
    entries["connectionHistory"] =
        *DefaultsEntry::encode(DefaultsValue(nlohmann::json::parse(R"({"records":[{"kind":"file"}]})")));
    const auto text = *DefaultsDocument::encode(entries);
    return {toBytes(text), toBytes(text.substr(0, text.size() / 2)), toBytes(std::string("{}"))};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const auto entries = DefaultsDocument::decode(ByteView(data, size));
    if (!entries) {
        return;
    }
    const auto text = DefaultsDocument::encode(*entries);
    if (!text) {
        std::abort();
    }
    const auto again = DefaultsDocument::decode(toBytes(*text));
    if (!again || *again != *entries || DefaultsDocument::encode(*again) != text) {
        std::abort();
    }
}

} // namespace velm::fuzz
