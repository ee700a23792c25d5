#include "protocol/ControlMessage.h"

#include "protocol/json/Json.h"

namespace velm {

std::string_view ControlMessage::caseName() const {
    return std::visit([](const auto& payload) { return std::decay_t<decltype(payload)>::caseName; }, value_);
}

ControlMessage::Direction ControlMessage::direction() const {
    return std::visit([](const auto& payload) { return std::decay_t<decltype(payload)>::direction; }, value_);
}

std::optional<Bytes> ControlMessage::jsonEncoded(JsonError* failure) const {
    return Json::tryEncode(*this, failure);
}

std::optional<ControlMessage> ControlMessage::fromJson(ByteView json, JsonError* failure) {
    return Json::tryDecode<ControlMessage>(json, failure);
}

} // namespace velm
