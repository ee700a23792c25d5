// Settings files of the system and the user that the host reads: a display manager's INI file (with
// an old section name merged into its new one), the user's user-dirs.dirs and systemd's machine-info.
// Whatever they hold, values come out single lines, the download folder is absolute and the computer
// has a name.
#include "Velm_Host/model/IniFile.h"
#include "fuzz/Target.h"
#include "platform/net/ComputerName.h"
#include "platform/store/XdgDirs.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace velm::fuzz {
namespace {

bool isLine(const std::optional<std::string>& value) {
    return !value || value->find('\n') == std::string::npos;
}

} // namespace

std::vector<Bytes> seeds() {
    return {toBytes("[daemon]\nAutomaticLoginEnable=true\nAutomaticLogin=ann\n"),
            toBytes("[Seat:*]\nautologin-user=ann\n[Autologin]\nUser=ann\n"),
            toBytes("XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_MUSIC_DIR=\"/data/music\"\n"),
            toBytes("PRETTY_HOSTNAME=\"Ann's \\\"Desk\\\"\"\nCHASSIS=desktop\n")};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto ini = IniFile::parse(text);
    ini.mergeSection("SeatDefaults", "Seat:*");
    if (!isLine(ini.value("daemon", "AutomaticLogin")) || !isLine(ini.value("Autologin", "User")) ||
        !isLine(ini.value("Seat:*", "autologin-user")) || !isLine(ini.value("", "top"))) {
        std::abort();
    }
    const auto folder = XdgDirs::userDir(text, "XDG_DOWNLOAD_DIR", "/home/ann");
    if (folder && !folder->is_absolute()) {
        std::abort();
    }
    if (ComputerName::pretty(text, "").empty()) {
        std::abort();
    }
}

} // namespace velm::fuzz
