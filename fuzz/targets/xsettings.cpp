// The settings list a desktop's settings manager publishes on the X display (XSETTINGS), which
// another process writes: whatever it holds, reading stays within it, and bytes after a whole list
// change nothing.
#include "platform/x11/XSettings.h"

#include "fuzz/Target.h"
#include "tests/support/XSettingsWriter.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    using test::XSettingsWriter;
    return {XSettingsWriter()
                .string("Net/ThemeName", "Adwaita")
                .integer("Net/DoubleClickTime", 400)
                .colour("Gtk/Colour", {0xFFFF, 0, 0x8000, 0xFFFF})
                .bytes(),
            XSettingsWriter(true)
                .integer("Net/DoubleClickTime", 250)
                .string("Gtk/FontName", "Cantarell 11")
                .bytes(),
            XSettingsWriter().bytes()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    Bytes bytes(data, data + size);
    const auto settings = XSettings::parse(bytes);
    if (!settings) {
        return;
    }
    bytes.insert(bytes.end(), {0xFF, 0x00, 0x7F});
    const auto extended = XSettings::parse(bytes);
    if (!extended || extended->integer("Net/DoubleClickTime") != settings->integer("Net/DoubleClickTime")) {
        std::abort();
    }
}

} // namespace velm::fuzz
