#pragma once

#include "platform/core/Base64.h"
#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/core/Uuid.h"
#include "protocol/json/JsonRecord.h"
#include "protocol/json/RawEnum.h"

#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velm {

// Whether a JSON value would decode as T, told without throwing: for reading many stored values
// of which any number may be damaged, where a JsonError for each would cost more than all the
// rest. It follows JsonCoding's rules for the value forms that stored records use; the decoder
// stays the authority on the values that pass.
template <typename T> struct JsonCheck;

template <> struct JsonCheck<bool> {
    static bool fits(const nlohmann::json& node) { return node.is_boolean(); }
};

template <std::integral T>
requires(!std::same_as<T, bool>) struct JsonCheck<T> {
    static bool fits(const nlohmann::json& node) {
        switch (node.type()) {
        case nlohmann::json::value_t::number_unsigned:
            return std::in_range<T>(node.get<std::uint64_t>());
        case nlohmann::json::value_t::number_integer:
            return std::in_range<T>(node.get<std::int64_t>());
        case nlohmann::json::value_t::number_float: {
            const double value = node.get<double>();
            const double lowest = static_cast<double>(std::numeric_limits<T>::min());
            const double pastHighest = std::ldexp(1.0, std::numeric_limits<T>::digits);
            return std::trunc(value) == value && value >= lowest && value < pastHighest;
        }
        default:
            return false;
        }
    }
};

template <> struct JsonCheck<double> {
    static bool fits(const nlohmann::json& node) { return node.is_number(); }
};

template <> struct JsonCheck<Date> {
    static bool fits(const nlohmann::json& node) { return node.is_number(); }
};

template <> struct JsonCheck<std::string> {
    static bool fits(const nlohmann::json& node) { return node.is_string(); }
};

template <> struct JsonCheck<Bytes> {
    static bool fits(const nlohmann::json& node) {
        return node.is_string() && Base64::decode(node.get_ref<const std::string&>()).has_value();
    }
};

template <> struct JsonCheck<Uuid> {
    static bool fits(const nlohmann::json& node) {
        return node.is_string() && Uuid::parse(node.get_ref<const std::string&>()).has_value();
    }
};

template <RawEnum E> struct JsonCheck<E> {
    static bool fits(const nlohmann::json& node) {
        return node.is_string() && fromRawValue<E>(node.get_ref<const std::string&>()).has_value();
    }
};

template <typename T> struct JsonCheck<std::vector<T>> {
    static bool fits(const nlohmann::json& node) {
        if (!node.is_array()) {
            return false;
        }
        for (const auto& element : node) {
            if (element.is_null() || !JsonCheck<T>::fits(element)) {
                return false;
            }
        }
        return true;
    }
};

// A record's members, visited as JsonObjectReader would: a required field present and not null,
// an optional one missing, null or fitting.
class JsonFieldCheck {
public:
    explicit JsonFieldCheck(const nlohmann::json& object) : object_(object) {}

    bool fits() const { return fits_; }

    template <typename T> void operator()(std::string_view key, const T&) {
        const nlohmann::json* value = find(key);
        fits_ = fits_ && value != nullptr && !value->is_null() && JsonCheck<T>::fits(*value);
    }

    template <typename T> void operator()(std::string_view key, const std::optional<T>&) {
        const nlohmann::json* value = find(key);
        fits_ = fits_ && (value == nullptr || value->is_null() || JsonCheck<T>::fits(*value));
    }

private:
    const nlohmann::json* find(std::string_view key) const {
        if (!fits_) {
            return nullptr;
        }
        const auto& members = object_.get_ref<const nlohmann::json::object_t&>();
        const auto found = members.find(key);
        return found == members.end() ? nullptr : &found->second;
    }

    const nlohmann::json& object_;
    bool fits_ = true;
};

template <JsonRecord T> struct JsonCheck<T> {
    static bool fits(const nlohmann::json& node) {
        if (!node.is_object()) {
            return false;
        }
        JsonFieldCheck members(node);
        const T shape{};
        T::fields(members, shape);
        return members.fits();
    }
};

} // namespace velm
