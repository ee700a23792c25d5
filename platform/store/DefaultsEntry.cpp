#include "platform/store/DefaultsEntry.h"

#include "platform/core/Utf8.h"
#include "platform/store/StoreFolder.h"

#include <cmath>
#include <limits>
#include <openssl/evp.h>
#include <string_view>

namespace velm {
namespace {

using Json = nlohmann::json;

constexpr std::string_view dataKey = "data";
constexpr std::string_view jsonKey = "json";

std::string toBase64(ByteView bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                 static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

bool isBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Standard Base64 with padding and nothing else: OpenSSL's decoder alone would also skip white space and
// count padding as zero bytes.
std::optional<Bytes> fromBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        if (!isBase64Character(text[i])) {
            return std::nullopt;
        }
    }
    Bytes bytes(text.size() / 4 * 3);
    int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                 static_cast<int>(text.size()));
    if (length < 0 || static_cast<std::size_t>(length) != bytes.size()) {
        return std::nullopt;
    }
    bytes.resize(bytes.size() - padding);
    return bytes;
}

bool isFaithful(const Json& value, int depth) {
    if (depth > DefaultsEntry::maxDepth) {
        return false;
    }
    switch (value.type()) {
    case Json::value_t::string:
        return Utf8::isValid(value.get_ref<const std::string&>());
    case Json::value_t::number_float:
        return std::isfinite(value.get<double>());
    case Json::value_t::object:
        for (const auto& [key, member] : value.items()) {
            if (!Utf8::isValid(key) || !isFaithful(member, depth + 1)) {
                return false;
            }
        }
        return true;
    case Json::value_t::array:
        for (const auto& member : value) {
            if (!isFaithful(member, depth + 1)) {
                return false;
            }
        }
        return true;
    case Json::value_t::binary:
    case Json::value_t::discarded:
        return false;
    default:
        return true;
    }
}

struct Encoder {
    std::optional<Json> operator()(bool value) const { return Json(value); }
    std::optional<Json> operator()(std::int64_t value) const { return Json(value); }
    std::optional<Json> operator()(double value) const {
        return std::isfinite(value) ? std::optional<Json>(value) : std::nullopt;
    }
    std::optional<Json> operator()(const std::string& value) const {
        return Utf8::isValid(value) ? std::optional<Json>(value) : std::nullopt;
    }
    std::optional<Json> operator()(const Bytes& value) const {
        if (value.size() > StoreFolder::maxFileBytes) {
            return std::nullopt;
        }
        return Json::object({{dataKey, toBase64(value)}});
    }
    std::optional<Json> operator()(const Json& value) const {
        return isFaithful(value, 0) ? std::optional<Json>(Json::object({{jsonKey, value}})) : std::nullopt;
    }
};

} // namespace

std::optional<Json> DefaultsEntry::encode(const DefaultsValue& value) {
    return std::visit(Encoder{}, value);
}

std::optional<DefaultsValue> DefaultsEntry::decode(const Json& entry) {
    switch (entry.type()) {
    case Json::value_t::boolean:
        return entry.get<bool>();
    case Json::value_t::number_integer:
        return entry.get<std::int64_t>();
    case Json::value_t::number_unsigned:
        if (entry.get<std::uint64_t>() >
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(entry.get<std::uint64_t>());
    case Json::value_t::number_float:
        if (!std::isfinite(entry.get<double>())) {
            return std::nullopt;
        }
        return entry.get<double>();
    case Json::value_t::string:
        return entry.get<std::string>();
    case Json::value_t::object:
        break;
    default:
        return std::nullopt;
    }
    if (entry.size() != 1) {
        return std::nullopt;
    }
    if (auto data = entry.find(dataKey); data != entry.end() && data->is_string()) {
        if (auto bytes = fromBase64(data->get_ref<const std::string&>())) {
            return DefaultsValue(std::in_place_type<Bytes>, std::move(*bytes));
        }
        return std::nullopt;
    }
    if (auto json = entry.find(jsonKey); json != entry.end()) {
        return DefaultsValue(std::in_place_type<Json>, *json);
    }
    return std::nullopt;
}

} // namespace velm
