#pragma once

#include <cstdint>
#include <optional>

namespace velm {

// GNOME's mouse settings, read through GIO from wherever the desktop keeps them (dconf). GSettings
// ends the process when asked for a schema or key that is not installed, so both are looked up first.
class GnomeMouseSettings {
public:
    static constexpr const char* schemaId = "org.gnome.desktop.peripherals.mouse";
    static constexpr const char* doubleClickKey = "double-click";

    // The double-click time in milliseconds; nothing when the schema is not installed or has no such
    // integer key.
    static std::optional<std::int32_t> doubleClickMilliseconds();
};

} // namespace velm
