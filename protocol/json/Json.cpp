#include "protocol/json/Json.h"

namespace velm {
namespace {

// One pass over the text counting open arrays and objects outside strings; far cheaper than
// the parse it spares. Text that is not JSON at all is left for the parser to refuse.
bool nestsDeeperThan(ByteView json, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const std::uint8_t byte : json) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (byte == '\\') {
                escaped = true;
            } else if (byte == '"') {
                inString = false;
            }
            continue;
        }
        switch (byte) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > limit) {
                return true;
            }
            break;
        case ']':
        case '}':
            depth -= depth > 0 ? 1 : 0;
            break;
        default:
            break;
        }
    }
    return false;
}

} // namespace

nlohmann::json Json::parse(ByteView json) {
    if (nestsDeeperThan(json, maxDepth)) {
        throw JsonError(JsonError::Kind::dataCorrupted, {},
                        "the data nests deeper than " + std::to_string(maxDepth) + " levels");
    }
    nlohmann::json root =
        nlohmann::json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) {
        throw JsonError(JsonError::Kind::dataCorrupted, {}, "the data is not valid JSON");
    }
    return root;
}

} // namespace velm
