#include "protocol/json/Json.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

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

// Notes a member name that comes twice in one object. The parser would keep the last value
// where another reader may keep the first, so such a document means different things to
// different readers, and no writer of ours makes one.
class RepeatedNames {
public:
    bool operator()(int, nlohmann::json::parse_event_t event, const nlohmann::json& parsed) {
        switch (event) {
        case nlohmann::json::parse_event_t::object_start:
            open_.emplace_back();
            break;
        case nlohmann::json::parse_event_t::key:
            if (!open_.empty() && !open_.back().insert(parsed.get_ref<const std::string&>()).second &&
                !repeated_) {
                repeated_ = parsed.get_ref<const std::string&>();
            }
            break;
        case nlohmann::json::parse_event_t::object_end:
            if (!open_.empty()) {
                open_.pop_back();
            }
            break;
        default:
            break;
        }
        return true;
    }

    const std::optional<std::string>& repeated() const { return repeated_; }

private:
    // The names seen so far in each object still open, innermost last.
    std::vector<std::set<std::string, std::less<>>> open_;
    std::optional<std::string> repeated_;
};

} // namespace

nlohmann::json Json::parse(ByteView json) {
    // The parser takes a NUL byte for the end of the input and ignores whatever follows it, where
    // other readers refuse the document; JSON has no place for a raw NUL, so none is let through.
    if (std::find(json.begin(), json.end(), std::uint8_t{0}) != json.end()) {
        throw JsonError(JsonError::Kind::dataCorrupted, {}, "the data is not valid JSON");
    }
    if (nestsDeeperThan(json, maxDepth)) {
        throw JsonError(JsonError::Kind::dataCorrupted, {},
                        "the data nests deeper than " + std::to_string(maxDepth) + " levels");
    }
    RepeatedNames names;
    nlohmann::json root = nlohmann::json::parse(
        json.begin(), json.end(),
        [&names](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
            return names(depth, event, parsed);
        },
        /*allow_exceptions=*/false);
    if (root.is_discarded()) {
        throw JsonError(JsonError::Kind::dataCorrupted, {}, "the data is not valid JSON");
    }
    if (names.repeated()) {
        throw JsonError(JsonError::Kind::dataCorrupted, {},
                        "the data repeats the member \"" + *names.repeated() + "\" in one object");
    }
    return root;
}

} // namespace velm
