#pragma once

#include "platform/core/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// The settings a desktop's settings manager publishes to X applications (XSETTINGS: the
// _XSETTINGS_SETTINGS property of the window that owns _XSETTINGS_S<screen>). Another process writes
// them, so every length is checked before anything is read. Only integer settings are kept; strings
// and colours are stepped over.
class XSettings {
public:
    // Lists of real settings managers take a few kilobytes; a larger property is not read.
    static constexpr std::size_t maxBytes = 256 * 1024;

    // Nothing unless the bytes start with a whole, well-formed list in either byte order (bytes after
    // its last setting are ignored). A name given twice keeps its first value.
    static std::optional<XSettings> parse(ByteView bytes);

    // An integer setting by name ("Net/DoubleClickTime"); nothing when it is absent or not an integer.
    std::optional<std::int32_t> integer(std::string_view name) const;

private:
    std::map<std::string, std::int32_t, std::less<>> integers_;
};

} // namespace velm
