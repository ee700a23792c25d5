#pragma once

#include "platform/core/Bytes.h"
#include "protocol/UnicodeText.h"
#include "protocol/json/JsonReader.h"
#include "protocol/json/JsonWriter.h"

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace velm {

// A record lists its fields once, in declaration order, with their JSON keys:
//
//     struct CurtainState {
//         bool available = false;
//         bool on = false;
//
//         static void fields(auto& visit, auto&... self) {
//             visit("available", self.available...);
//             visit("on", self.on...);
//         }
//         friend bool operator==(const CurtainState& a, const CurtainState& b) { return fieldsEqual(a, b); }
//     };
//
// `fields` is called with one record to write or read it as a JSON object (a std::optional
// field is optional in JSON, every other field required) and with two records to compare
// them. The record must be default-constructible; decoding fills a default value.
template <typename T>
concept JsonRecord = std::is_class_v<T> && std::is_default_constructible_v<T> &&
    requires(T& value, const T& constant, const JsonObjectReader& reader, const JsonObjectWriter& writer) {
    T::fields(reader, value);
    T::fields(writer, constant);
};

namespace detail {

// Field equality as the wire vocabulary defines it: text by canonical equivalence, bytes byte
// by byte, doubles numerically (0 equals -0, NaN equals nothing), absent equals absent only,
// arrays element by element, records by their own equality.
inline bool sameValue(const std::string& a, const std::string& b) {
    return UnicodeText::canonicallyEqual(a, b);
}
inline bool sameValue(const Bytes& a, const Bytes& b) {
    return a == b;
}
template <typename T> bool sameValue(const std::optional<T>& a, const std::optional<T>& b);
template <typename T> bool sameValue(const std::vector<T>& a, const std::vector<T>& b);
template <typename T> bool sameValue(const T& a, const T& b) {
    return a == b;
}

template <typename T> bool sameValue(const std::optional<T>& a, const std::optional<T>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a.has_value() || sameValue(*a, *b);
}

template <typename T> bool sameValue(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!sameValue(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

struct FieldsEqual {
    bool equal = true;

    template <typename T> void operator()(std::string_view, const T& a, const T& b) {
        equal = equal && sameValue(a, b);
    }
};

} // namespace detail

// Whether two records are equal field by field (see detail::sameValue).
template <typename T> bool fieldsEqual(const T& a, const T& b) {
    detail::FieldsEqual compare;
    T::fields(compare, a, b);
    return compare.equal;
}

} // namespace velm
