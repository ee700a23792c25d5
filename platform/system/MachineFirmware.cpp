#include "platform/system/MachineFirmware.h"

#include "platform/core/Bytes.h"
#include "platform/file/ReadableFile.h"

namespace velm {
namespace {

std::optional<std::string> readFile(const char* path) {
    auto file = ReadableFile::open(path);
    if (!file) {
        return std::nullopt;
    }
    Bytes contents(MachineFirmware::fileLimit);
    const auto length = file->read(contents);
    if (!length) {
        return std::nullopt;
    }
    return std::string(contents.begin(), contents.begin() + static_cast<std::ptrdiff_t>(*length));
}

} // namespace

MachineFirmware MachineFirmware::read() {
    return MachineFirmware{
        .productName = readFile("/sys/class/dmi/id/product_name"),
        .productFamily = readFile("/sys/class/dmi/id/product_family"),
        .deviceTreeModel = readFile("/sys/firmware/devicetree/base/model"),
    };
}

} // namespace velm
