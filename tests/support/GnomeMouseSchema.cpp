#include "tests/support/GnomeMouseSchema.h"

#include "tests/support/TemporaryFolder.h"

#include <cstdlib>
#include <gio/gio.h>

namespace velm::test {
namespace {

std::string mouseSchema(std::string_view doubleClickType, bool withPath = true) {
    const std::string defaultValue = doubleClickType == "i" ? "400" : "'400'";
    const std::string path = withPath ? R"( path="/org/gnome/desktop/peripherals/mouse/")" : "";
    return R"(<schemalist>
  <schema id="org.gnome.desktop.peripherals.mouse")" +
           path + R"(>
    <key name="double-click" type=")" +
           std::string(doubleClickType) + R"("><default>)" + defaultValue + R"(</default></key>
    <key name="left-handed" type="b"><default>false</default></key>
  </schema>
</schemalist>
)";
}

constexpr const char* otherSchema = R"(<schemalist>
  <schema id="org.velm.test" path="/org/velm/test/">
    <key name="double-click" type="i"><default>400</default></key>
  </schema>
</schemalist>
)";

// Lives as long as the process, which may read the schemas at any time.
const TemporaryFolder& folder() {
    static TemporaryFolder folder;
    return folder;
}

// The schema compiled in the folder, and only that: the system's schema folders (below the XDG data
// folders) are left out of the search.
bool compile(const std::string& schema, std::string& reason) {
    TemporaryFolder::writeFile(folder() / "velm-test.gschema.xml", schema);
    const std::string command = "glib-compile-schemas '" + folder().path().string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        reason = "glib-compile-schemas (libglib2.0-bin) cannot compile the test's schema";
        return false;
    }
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("GSETTINGS_SCHEMA_DIR", folder().path().c_str(), 1);
    setenv("XDG_DATA_DIRS", folder().path().c_str(), 1);
    setenv("XDG_DATA_HOME", folder().path().c_str(), 1);
    return true;
}

} // namespace

bool GnomeMouseSchema::install(std::string& reason, std::string_view doubleClickType) {
    return compile(mouseSchema(doubleClickType), reason);
}

bool GnomeMouseSchema::installWithoutPath(std::string& reason) {
    return compile(mouseSchema("i", false), reason);
}

bool GnomeMouseSchema::hide(std::string& reason) {
    return compile(otherSchema, reason);
}

void GnomeMouseSchema::setDoubleClick(std::int32_t milliseconds) {
    GSettings* settings = g_settings_new("org.gnome.desktop.peripherals.mouse");
    g_settings_set_int(settings, "double-click", milliseconds);
    g_object_unref(settings);
}

} // namespace velm::test
