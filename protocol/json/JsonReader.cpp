#include "protocol/json/JsonReader.h"

namespace velm {

void JsonReader::fail(JsonError::Kind kind, std::string description) const {
    throw JsonError(kind, path_.text(), std::move(description));
}

void JsonReader::failType(std::string_view expected) const {
    fail(JsonError::Kind::typeMismatch, "expected " + std::string(expected) + ", found " + node_.type_name());
}

JsonObjectReader::JsonObjectReader(const JsonReader& object) : object_(object) {
    if (!object.node().is_object()) {
        object.failType("an object");
    }
}

const nlohmann::json* JsonObjectReader::find(std::string_view key) const {
    const auto& members = object_.node().get_ref<const nlohmann::json::object_t&>();
    const auto found = members.find(key);
    return found == members.end() ? nullptr : &found->second;
}

} // namespace velm
