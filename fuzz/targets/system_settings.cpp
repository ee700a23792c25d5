// Settings files of the system and the user that the host reads: a display manager's INI file (with
// an old section name merged into its new one), the user's user-dirs.dirs, systemd's machine-info and
// an autostart entry's Exec value. Whatever they hold, values come out single lines, the download
// folder is absolute and the computer has a name; a program path written into an entry reads back
// as itself.
#include "Velm_Host/model/IniFile.h"
#include "Velm_Host/model/LaunchAtLogin.h"
#include "fuzz/Target.h"
#include "platform/core/Utf8.h"
#include "platform/net/ComputerName.h"
#include "platform/store/XdgDirs.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

namespace velm::fuzz {
namespace {

bool isLine(const std::optional<std::string>& value) {
    return !value || value->find('\n') == std::string::npos;
}

// What an entry can carry: UTF-8 without control characters other than those with an escape.
bool fitsAnEntry(std::string_view path) {
    return !path.empty() && Utf8::isValid(path) && std::none_of(path.begin(), path.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\n' && c != '\t' && c != '\r') || byte == 0x7F;
    });
}

void checkExecRoundTrip(std::string_view path) {
    LaunchAtLogin::programIn(path);
    if (!fitsAnEntry(path)) {
        return;
    }
    const LaunchAtLogin launch("/nonexistent", std::string(path));
    const auto exec = IniFile::parse(launch.entry()).value("Desktop Entry", "Exec");
    if (!exec || LaunchAtLogin::programIn(*exec) != std::string(path)) {
        std::abort();
    }
}

} // namespace

std::vector<Bytes> seeds() {
    return {toBytes("[daemon]\nAutomaticLoginEnable=true\nAutomaticLogin=ann\n"),
            toBytes("[Seat:*]\nautologin-user=ann\n[Autologin]\nUser=ann\n"),
            toBytes("XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_MUSIC_DIR=\"/data/music\"\n"),
            toBytes("PRETTY_HOSTNAME=\"Ann's \\\"Desk\\\"\"\nCHASSIS=desktop\n"),
            toBytes("/home/ann/my \"builds\"/$HOME `x` \\y 100%/velm-host")};
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
    checkExecRoundTrip(text);
}

} // namespace velm::fuzz
