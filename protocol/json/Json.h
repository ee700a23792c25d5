#pragma once

#include "platform/core/Bytes.h"
#include "protocol/json/JsonCoding.h"
#include "protocol/json/JsonError.h"

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

namespace velm {

// The JSON form of the control connection: compact, members in declaration order, absent
// optionals left out, Data as Base64, dates as seconds since 2001-01-01 00:00:00 UTC.
// Any type with a JsonCoding can be written and read (records, enumerations, arrays, ...).
class Json {
public:
    // Deeper than any message or record goes: a hostile document of nested arrays is refused
    // before it costs a tree many times its size.
    static constexpr std::size_t maxDepth = 32;

    // Throws JsonError (invalidValue) when a double is NaN or infinite.
    template <typename T> static Bytes encode(const T& value) {
        nlohmann::ordered_json root;
        const JsonPath path;
        JsonWriter(root, path).write(value);
        const std::string text = root.dump();
        return Bytes(text.begin(), text.end());
    }

    // Throws JsonError at the first fault; nothing is repaired or defaulted.
    template <typename T> static T decode(ByteView json) {
        const nlohmann::json root = parse(json);
        const JsonPath path;
        return JsonReader(root, path).read<T>();
    }

    template <typename T> static T decode(std::string_view json) { return decode<T>(asBytes(json)); }

    // The same without exceptions: nothing when the value cannot be written or read, with the
    // reason in `failure` when one is given.
    template <typename T>
    static std::optional<Bytes> tryEncode(const T& value, JsonError* failure = nullptr) {
        try {
            return encode(value);
        } catch (const JsonError& error) {
            if (failure != nullptr)
                *failure = error;
            return std::nullopt;
        }
    }

    template <typename T> static std::optional<T> tryDecode(ByteView json, JsonError* failure = nullptr) {
        try {
            return decode<T>(json);
        } catch (const JsonError& error) {
            if (failure != nullptr)
                *failure = error;
            return std::nullopt;
        }
    }

    template <typename T>
    static std::optional<T> tryDecode(std::string_view json, JsonError* failure = nullptr) {
        return tryDecode<T>(asBytes(json), failure);
    }

    // Parses one JSON text; throws JsonError (dataCorrupted) when it is not JSON, nests arrays
    // and objects deeper than maxDepth or names one member twice in an object.
    static nlohmann::json parse(ByteView json);

private:
    static ByteView asBytes(std::string_view text) {
        return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
};

} // namespace velm
