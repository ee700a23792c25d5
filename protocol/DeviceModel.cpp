#include "protocol/DeviceModel.h"

#include "platform/core/Utf8.h"
#include "protocol/IpadModels.h"

namespace velm {
namespace {

// The text of a firmware value: up to the first NUL (device-tree strings end in one), without
// the surrounding white space sysfs adds, as valid UTF-8 cut on a character boundary to
// maxFirmwareTextBytes; nothing when that leaves no text.
std::optional<std::string> firmwareText(const std::optional<std::string>& raw) {
    if (!raw) {
        return std::nullopt;
    }
    std::string_view text(*raw);
    text = text.substr(0, text.find('\0'));
    static constexpr std::string_view space = " \t\r\n";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(space) - first + 1);
    std::string repaired = Utf8::repaired(text);
    repaired.resize(Utf8::cutLength(repaired, DeviceModel::maxFirmwareTextBytes));
    return repaired;
}

// The preferred value's text, else the fallback's.
std::optional<std::string> firmwareText(const std::optional<std::string>& preferred,
                                        const std::optional<std::string>& fallback) {
    auto text = firmwareText(preferred);
    return text ? text : firmwareText(fallback);
}

} // namespace

const DeviceModel& DeviceModel::current() {
    static const DeviceModel model = fromFirmware(MachineFirmware::read());
    return model;
}

DeviceModel DeviceModel::fromFirmware(const MachineFirmware& firmware) {
    return DeviceModel{
        .identifier = firmwareText(firmware.productName, firmware.deviceTreeModel).value_or("Mac"),
        .name = firmwareText(firmware.productFamily, firmware.deviceTreeModel),
    };
}

std::string DeviceModel::displayName() const {
    if (name && !name->empty()) {
        return *name;
    }
    if (const auto marketing = IpadModels::marketingName(identifier)) {
        return std::string(*marketing);
    }
    if (identifier.starts_with("iPad")) {
        return "iPad";
    }
    if (identifier.starts_with("iPhone")) {
        return "iPhone";
    }
    return "Mac";
}

} // namespace velm
