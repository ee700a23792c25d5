// UUIDs from the network and the disk: what parses writes back as the same UUID, in upper case.
#include "platform/core/Uuid.h"

#include "fuzz/Target.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    return {toBytes(Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")->string()),
            toBytes("0b4a3c1e-5d6f-4e70-8192-a3b4c5d6e7f8")};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto uuid = Uuid::parse(text);
    if (!uuid) {
        return;
    }
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    if (uuid->string() != upper || Uuid::parse(uuid->string()) != uuid) {
        std::abort();
    }
}

} // namespace velm::fuzz
