#include "protocol/DeviceModel.h"

#include "platform/core/Utf8.h"
#include "platform/file/ReadableFile.h"
#include "protocol/IpadModels.h"

#include <initializer_list>
#include <iterator>

namespace velm {
namespace {

constexpr const char* dmiProductName = "/sys/class/dmi/id/product_name";
constexpr const char* dmiProductFamily = "/sys/class/dmi/id/product_family";
constexpr const char* deviceTreeModel = "/sys/firmware/devicetree/base/model";

// Firmware strings are short; anything longer is not a model name.
constexpr std::size_t firmwareFileLimit = 4096;

std::optional<std::string> readFirmwareFile(const std::string& path) {
    auto file = ReadableFile::open(path);
    if (!file) {
        return std::nullopt;
    }
    Bytes contents(firmwareFileLimit);
    const auto length = file->read(contents);
    if (!length) {
        return std::nullopt;
    }
    return std::string(contents.begin(), contents.begin() + static_cast<std::ptrdiff_t>(*length));
}

// The text of a firmware value: up to the first NUL (device-tree strings end in one), without
// the surrounding white space sysfs adds, as valid UTF-8; nothing when that leaves no text.
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
    return Utf8::repaired(text);
}

std::optional<std::string> firstFirmwareText(const DeviceModel::FirmwareReader& read,
                                             std::initializer_list<const char*> paths) {
    for (const char* path : paths) {
        if (auto text = firmwareText(read(path))) {
            return text;
        }
    }
    return std::nullopt;
}

} // namespace

const DeviceModel& DeviceModel::current() {
    static const DeviceModel model = fromFirmware(readFirmwareFile);
    return model;
}

DeviceModel DeviceModel::fromFirmware(const FirmwareReader& read) {
    return DeviceModel{
        .identifier = firstFirmwareText(read, {dmiProductName, deviceTreeModel}).value_or("Mac"),
        .name = firstFirmwareText(read, {dmiProductFamily, deviceTreeModel}),
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
