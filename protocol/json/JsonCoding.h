#pragma once

#include "platform/core/Base64.h"
#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/core/Utf8.h"
#include "platform/core/Uuid.h"
#include "protocol/json/JsonReader.h"
#include "protocol/json/JsonRecord.h"
#include "protocol/json/JsonWriter.h"
#include "protocol/json/RawEnum.h"

#include <array>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace velm {

// How one kind of value is written to and read from JSON:
//     static void encode(const T& value, const JsonWriter& out);
//     static T decode(const JsonReader& in);   // never sees null: JsonReader::read rejects it first
// These specialisations cover the value forms of the control connection; records, raw
// enumerations and enumerations with payloads get theirs from JsonRecord, RawValues and JsonCase.
template <typename T> struct JsonCoding;

template <> struct JsonCoding<bool> {
    static void encode(bool value, const JsonWriter& out) { out.node() = value; }
    static bool decode(const JsonReader& in) {
        if (!in.node().is_boolean()) {
            in.failType("a Bool");
        }
        return in.node().get<bool>();
    }
};

// Integers must fit their exact type. A number with a fraction, a Bool or a string never
// becomes an integer; a float is taken only when it is integral and in range (60.0 for 60).
template <std::integral T>
requires(!std::same_as<T, bool>) struct JsonCoding<T> {
    static void encode(T value, const JsonWriter& out) { out.node() = value; }

    static T decode(const JsonReader& in) {
        const nlohmann::json& node = in.node();
        switch (node.type()) {
        case nlohmann::json::value_t::number_unsigned: {
            const auto value = node.get<std::uint64_t>();
            if (std::in_range<T>(value))
                return static_cast<T>(value);
            break;
        }
        case nlohmann::json::value_t::number_integer: {
            const auto value = node.get<std::int64_t>();
            if (std::in_range<T>(value))
                return static_cast<T>(value);
            break;
        }
        case nlohmann::json::value_t::number_float: {
            const double value = node.get<double>();
            if (std::trunc(value) != value) {
                in.fail(JsonError::Kind::dataCorrupted, "number " + node.dump() + " is not an integer");
            }
            // Both bounds are powers of two, exact as doubles, so the cast below is defined.
            const double lowest = static_cast<double>(std::numeric_limits<T>::min());
            const double pastHighest = std::ldexp(1.0, std::numeric_limits<T>::digits);
            if (value >= lowest && value < pastHighest)
                return static_cast<T>(value);
            break;
        }
        default:
            in.failType("an integer");
        }
        in.fail(JsonError::Kind::dataCorrupted, "number " + node.dump() + " does not fit in " + typeName());
    }

private:
    static std::string typeName() {
        const std::string bits =
            std::to_string(std::numeric_limits<T>::digits + (std::is_signed_v<T> ? 1 : 0));
        if (std::is_signed_v<T> && bits == "64")
            return "Int";
        return (std::is_signed_v<T> ? "Int" : "UInt") + bits;
    }
};

// Any JSON number reads as a double. Writing refuses NaN and infinities, which JSON cannot
// carry; integral values below 2^53 are written as integers ("2", "788918400"), every other
// value in the shortest form that reads back to the same double.
template <> struct JsonCoding<double> {
    static void encode(double value, const JsonWriter& out) {
        if (!std::isfinite(value)) {
            out.fail("cannot write the number " + std::to_string(value) + " in JSON");
        }
        static constexpr double exactIntegers = 9007199254740992.0; // 2^53
        if (std::trunc(value) == value && std::fabs(value) < exactIntegers) {
            out.node() = static_cast<std::int64_t>(value);
        } else {
            out.node() = value;
        }
    }

    static double decode(const JsonReader& in) {
        if (!in.node().is_number()) {
            in.failType("a number");
        }
        return in.node().get<double>();
    }
};

// Text that is not valid UTF-8 (Linux file and host names may be any bytes) is written with
// each ill-formed sequence replaced, so it can never break the writer.
template <> struct JsonCoding<std::string> {
    static void encode(const std::string& value, const JsonWriter& out) {
        out.node() = Utf8::isValid(value) ? value : Utf8::repaired(value);
    }

    static std::string decode(const JsonReader& in) {
        if (!in.node().is_string()) {
            in.failType("a string");
        }
        return in.node().get_ref<const std::string&>();
    }
};

// Data: a string in standard Base64, read strictly.
template <> struct JsonCoding<Bytes> {
    static void encode(const Bytes& value, const JsonWriter& out) { out.node() = Base64::encode(value); }

    static Bytes decode(const JsonReader& in) {
        if (!in.node().is_string()) {
            in.failType("a Base64 string");
        }
        auto bytes = Base64::decode(in.node().get_ref<const std::string&>());
        if (!bytes) {
            in.fail(JsonError::Kind::dataCorrupted, "the text is not valid Base64");
        }
        return std::move(*bytes);
    }
};

// A date: a number, the seconds since 2001-01-01 00:00:00 UTC.
template <> struct JsonCoding<Date> {
    static void encode(Date value, const JsonWriter& out) {
        JsonCoding<double>::encode(value.secondsSinceReferenceDate(), out);
    }
    static Date decode(const JsonReader& in) { return Date(JsonCoding<double>::decode(in)); }
};

// A UUID: the 8-4-4-4-12 form, written in upper case, read in either case.
template <> struct JsonCoding<Uuid> {
    static void encode(const Uuid& value, const JsonWriter& out) { out.node() = value.string(); }

    static Uuid decode(const JsonReader& in) {
        if (!in.node().is_string()) {
            in.failType("a UUID string");
        }
        const auto uuid = Uuid::parse(in.node().get_ref<const std::string&>());
        if (!uuid) {
            in.fail(JsonError::Kind::dataCorrupted, "the text is not a UUID");
        }
        return *uuid;
    }
};

// An array of values; a null element fails like a null required field.
template <typename T> struct JsonCoding<std::vector<T>> {
    static void encode(const std::vector<T>& values, const JsonWriter& out) {
        out.node() = nlohmann::ordered_json::array();
        auto& elements = out.node().template get_ref<nlohmann::ordered_json::array_t&>();
        elements.reserve(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const JsonPath path(out.path(), i);
            JsonWriter(elements.emplace_back(), path).write(values[i]);
        }
    }

    static std::vector<T> decode(const JsonReader& in) {
        if (!in.node().is_array()) {
            in.failType("an array");
        }
        const auto& elements = in.node().template get_ref<const nlohmann::json::array_t&>();
        std::vector<T> values;
        values.reserve(elements.size());
        for (std::size_t i = 0; i < elements.size(); ++i) {
            const JsonPath path(in.path(), i);
            values.push_back(JsonReader(elements[i], path).template read<T>());
        }
        return values;
    }
};

// A record: one object whose members are the record's fields.
template <JsonRecord T> struct JsonCoding<T> {
    static void encode(const T& value, const JsonWriter& out) {
        const JsonObjectWriter members(out);
        T::fields(members, value);
    }

    static T decode(const JsonReader& in) {
        const JsonObjectReader members(in);
        T value{};
        T::fields(members, value);
        return value;
    }
};

// A string-valued enumeration: its raw value; any other string fails.
template <RawEnum E> struct JsonCoding<E> {
    static void encode(E value, const JsonWriter& out) { out.node() = std::string(rawValue(value)); }

    static E decode(const JsonReader& in) {
        if (!in.node().is_string()) {
            in.failType("a string");
        }
        const auto& raw = in.node().get_ref<const std::string&>();
        const auto value = fromRawValue<E>(raw);
        if (!value) {
            in.fail(JsonError::Kind::dataCorrupted,
                    "\"" + Utf8::repaired(raw) + "\" is no " + std::string(RawValues<E>::typeName));
        }
        return *value;
    }
};

// One case of an enumeration whose cases carry values: a record (its payload, possibly with no
// fields) with the case's name. The payload's keys are "_0", "_1" for unlabelled values and
// the labels for labelled ones:
//
//     struct Download {
//         static constexpr std::string_view caseName = "download";
//         std::uint32_t id = 0;
//         static void fields(auto& visit, auto&... self) { visit("id", self.id...); }
//         friend bool operator==(const Download& a, const Download& b) { return fieldsEqual(a, b); }
//     };
//     using Request = std::variant<Upload, Download>;
template <typename T>
concept JsonCase = JsonRecord<T> && requires {
    { T::caseName } -> std::convertible_to<std::string_view>;
};

// An enumeration with payloads, as std::variant of its cases: {"caseName":{payload}}. Reading
// counts the members that name a case, ignores all others, and fails unless there is exactly
// one. A type that wraps such a variant can delegate its own JsonCoding to this one.
template <JsonCase... Cases> struct JsonCoding<std::variant<Cases...>> {
    using Value = std::variant<Cases...>;

    static constexpr std::string_view wrongKeyCount = "Invalid number of keys found, expected one.";

    static void encode(const Value& value, const JsonWriter& out) {
        const JsonObjectWriter members(out);
        std::visit([&](const auto& payload) { members(std::decay_t<decltype(payload)>::caseName, payload); },
                   value);
    }

    static Value decode(const JsonReader& in) {
        if (!in.node().is_object()) {
            in.failType("an object");
        }
        const std::string* caseKey = nullptr;
        const nlohmann::json* payload = nullptr;
        std::size_t caseIndex = 0;
        for (const auto& [key, member] : in.node().get_ref<const nlohmann::json::object_t&>()) {
            const std::size_t index = indexOf(key);
            if (index == caseNames.size()) {
                continue;
            }
            if (payload != nullptr) {
                in.fail(JsonError::Kind::typeMismatch, std::string(wrongKeyCount));
            }
            caseKey = &key;
            payload = &member;
            caseIndex = index;
        }
        if (payload == nullptr) {
            in.fail(JsonError::Kind::typeMismatch, std::string(wrongKeyCount));
        }
        const JsonPath path(in.path(), *caseKey);
        return decoders[caseIndex](JsonReader(*payload, path));
    }

private:
    static constexpr std::array<std::string_view, sizeof...(Cases)> caseNames{Cases::caseName...};

    static std::size_t indexOf(std::string_view key) {
        for (std::size_t i = 0; i < caseNames.size(); ++i) {
            if (caseNames[i] == key)
                return i;
        }
        return caseNames.size();
    }

    template <typename Case> static Value decodeCase(const JsonReader& in) {
        return Value(std::in_place_type<Case>, in.read<Case>());
    }

    static constexpr std::array<Value (*)(const JsonReader&), sizeof...(Cases)> decoders{
        &decodeCase<Cases>...};
};

template <typename V> inline constexpr bool isJsonCaseVariant = false;
template <JsonCase... Cases> inline constexpr bool isJsonCaseVariant<std::variant<Cases...>> = true;

// A class that wraps an enumeration with payloads: it is made from its `Value`, a std::variant
// of cases, and gives it back from `value()`. It travels exactly as its variant does.
template <typename T>
concept JsonCaseWrapper = isJsonCaseVariant<typename T::Value> &&
    std::constructible_from<T, typename T::Value> && requires(const T& wrapper) {
    { wrapper.value() } -> std::same_as<const typename T::Value&>;
};

template <JsonCaseWrapper T> struct JsonCoding<T> {
    static void encode(const T& value, const JsonWriter& out) {
        JsonCoding<typename T::Value>::encode(value.value(), out);
    }
    static T decode(const JsonReader& in) { return T(JsonCoding<typename T::Value>::decode(in)); }
};

} // namespace velm
