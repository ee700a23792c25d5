// TXT entries of other hosts' adverts: parsed as they travel, looked up and judged publishable.
// Input: pieces, one entry each.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "platform/core/Utf8.h"
#include "platform/discovery/TxtRecord.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    return {FuzzScript()
                .piece(toBytes("id=0B4A3C1E-5D6F-4E70-8192-A3B4C5D6E7F8"))
                .piece(toBytes("model=Mac14,2"))
                .piece(toBytes("modelname=MacBook Air"))
                .piece(toBytes("flag"))
                .take()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    TxtRecord record;
    while (!input.empty()) {
        const auto raw = input.piece();
        const TxtRecord::Entry entry =
            TxtRecord::parseEntry(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
        if (!Utf8::isValid(entry.key) || !Utf8::isValid(entry.value)) {
            std::abort(); // whatever peers send is repaired
        }
        record.add(entry.key, entry.value);
    }
    for (const auto& entry : record.entries()) {
        if (!record.value(entry.key)) {
            std::abort();
        }
    }
    record.isPublishable();
}

} // namespace velm::fuzz
