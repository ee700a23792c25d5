#pragma once

#include "protocol/json/JsonError.h"
#include "protocol/json/JsonPath.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

template <typename T> struct JsonCoding;

// One value of a parsed JSON document, with its place in the document.
class JsonReader {
public:
    JsonReader(const nlohmann::json& node, const JsonPath& path) : node_(node), path_(path) {}

    const nlohmann::json& node() const { return node_; }
    const JsonPath& path() const { return path_; }

    [[noreturn]] void fail(JsonError::Kind kind, std::string description) const;
    // A type mismatch: "expected <expected>, found <the JSON type>".
    [[noreturn]] void failType(std::string_view expected) const;

    // This value decoded as T. Null is no value of any type and fails as not found.
    template <typename T> T read() const {
        if (node_.is_null()) {
            fail(JsonError::Kind::valueNotFound, "expected a value, found null");
        }
        return JsonCoding<T>::decode(*this);
    }

private:
    const nlohmann::json& node_;
    const JsonPath& path_;
};

// The members of one JSON object. A record's `fields` calls it once per field: a required field
// must be there and not null; an optional one reads as absent when missing or null. Members
// that no field names are ignored.
class JsonObjectReader {
public:
    // Fails unless the value is an object.
    explicit JsonObjectReader(const JsonReader& object);

    template <typename T> void operator()(std::string_view key, T& field) const {
        const nlohmann::json* value = find(key);
        if (value == nullptr) {
            object_.fail(JsonError::Kind::keyNotFound, "no value for key \"" + std::string(key) + "\"");
        }
        const JsonPath path(object_.path(), key);
        field = JsonReader(*value, path).read<T>();
    }

    template <typename T> void operator()(std::string_view key, std::optional<T>& field) const {
        const nlohmann::json* value = find(key);
        if (value == nullptr || value->is_null()) {
            field.reset();
            return;
        }
        const JsonPath path(object_.path(), key);
        field = JsonReader(*value, path).read<T>();
    }

private:
    const nlohmann::json* find(std::string_view key) const;

    const JsonReader& object_;
};

} // namespace velm
