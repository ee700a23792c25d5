// Entries of the settings file, which any program of the user may have written: what decodes
// encodes again, to an entry that decodes to the same value.
#include "fuzz/Target.h"
#include "platform/store/DefaultsEntry.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    std::vector<Bytes> all;
    for (const DefaultsValue& value :
         {DefaultsValue(true), DefaultsValue(std::int64_t{5900}), DefaultsValue(0.25),
          DefaultsValue(std::in_place_type<std::string>, "HOST-1"), DefaultsValue(Bytes{1, 2, 3}),
          DefaultsValue(nlohmann::json::parse(R"({"width":2732,"modes":[1,2]})"))}) {
        all.push_back(toBytes(DefaultsEntry::encode(value)->dump()));
    }
    return all;
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    // The store reads the file with a depth limit of its own; this takes entries as the parser gives them.
    const auto entry = nlohmann::json::parse(data, data + size, nullptr, false);
    if (entry.is_discarded()) {
        return;
    }
    const auto value = DefaultsEntry::decode(entry);
    if (!value) {
        return;
    }
    const auto again = DefaultsEntry::encode(*value);
    if (!again || DefaultsEntry::decode(*again) != value) {
        std::abort();
    }
}

} // namespace velm::fuzz
