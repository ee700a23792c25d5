#pragma once

#include "protocol/json/JsonError.h"
#include "protocol/json/JsonPath.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

template <typename T> struct JsonCoding;

// One value of a JSON document being written, with its place in the document.
class JsonWriter {
public:
    JsonWriter(nlohmann::ordered_json& node, const JsonPath& path) : node_(node), path_(path) {}

    nlohmann::ordered_json& node() const { return node_; }
    const JsonPath& path() const { return path_; }

    // The value cannot be written (NaN or an infinity).
    [[noreturn]] void fail(std::string description) const;

    template <typename T> void write(const T& value) const { JsonCoding<T>::encode(value, *this); }

private:
    nlohmann::ordered_json& node_;
    const JsonPath& path_;
};

// The members of one JSON object being written, in the order a record's `fields` names them.
// An absent optional is left out, never written as null.
class JsonObjectWriter {
public:
    // Makes the value an empty object.
    explicit JsonObjectWriter(const JsonWriter& object) : object_(object) {
        object.node() = nlohmann::ordered_json::object();
    }

    template <typename T> void operator()(std::string_view key, const T& field) const {
        const JsonPath path(object_.path(), key);
        auto& members = object_.node().get_ref<nlohmann::ordered_json::object_t&>();
        JsonWriter(members.emplace_back(std::string(key), nullptr).second, path).write(field);
    }

    template <typename T> void operator()(std::string_view key, const std::optional<T>& field) const {
        if (field) {
            (*this)(key, *field);
        }
    }

private:
    const JsonWriter& object_;
};

} // namespace velm
