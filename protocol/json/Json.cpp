#include "protocol/json/Json.h"

namespace velm {

nlohmann::json Json::parse(ByteView json) {
    nlohmann::json root =
        nlohmann::json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) {
        throw JsonError(JsonError::Kind::dataCorrupted, {}, "the data is not valid JSON");
    }
    return root;
}

} // namespace velm
