#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velm::test {

// GNOME's mouse settings for one test process, on GIO's memory backend. GIO picks its backend and
// its schema folders once, at first use, so a test chooses before anything reads them; every test case
// runs in a process of its own.
class GnomeMouseSchema {
public:
    // A small copy of the schema, compiled into a temporary folder with glib-compile-schemas, in place
    // of whichever version the system may have; `doubleClickType` is its key's GVariant type. False
    // (and `reason`) when it cannot be compiled.
    static bool install(std::string& reason, std::string_view doubleClickType = "i");
    // The schema as a relocatable one, which names no place of its own for the settings.
    static bool installWithoutPath(std::string& reason);
    // Schemas without GNOME's mouse settings, as on a desktop without GNOME.
    static bool hide(std::string& reason);
    // As the user's settings would.
    static void setDoubleClick(std::int32_t milliseconds);
};

} // namespace velm::test
