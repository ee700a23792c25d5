#include "Velm_Host/model/LaunchAtLogin.h"

#include "platform/core/Bytes.h"
#include "platform/core/Utf8.h"
#include "platform/log/Log.h"
#include "platform/store/StoreFolder.h"
#include "platform/store/XdgDirs.h"
#include "platform/system/RunningProgram.h"

#include <algorithm>

namespace velm {
namespace {

const Log launchAtLoginLog("host");

bool isPlain(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("/._+-").find(c) != std::string_view::npos;
}

// The program as the Exec key wants it: plain paths as they are, others in double quotes, inside which
// the quoting rules' characters take a backslash; then the key's string value doubles every backslash
// (a literal one becomes four) and spells a line break, tab or return as its escape; a percent sign, which
// would start a field code, is doubled.
std::string execArgument(const std::string& path) {
    if (!path.empty() && std::all_of(path.begin(), path.end(), isPlain)) {
        return path;
    }
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += "\\\\";
        }
        if (c == '\\') {
            quoted += "\\\\";
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '%') {
            quoted += "%%";
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// A desktop entry is UTF-8 text whose values hold no control characters but those with an escape: a
// path with any other would make an entry that desktops read as broken, or as another command.
bool fitsAnEntry(const std::string& path) {
    return Utf8::isValid(path) && std::none_of(path.begin(), path.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return (byte < 0x20 && c != '\n' && c != '\t' && c != '\r') || byte == 0x7F;
           });
}

// The command line a string value spells: its escapes spell the backslashes and line breaks.
std::optional<std::string> withoutValueEscapes(std::string_view value) {
    const std::string_view codes = "sntr\\", meanings = " \n\t\r\\";
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            text += value[i];
            continue;
        }
        const auto code = ++i < value.size() ? codes.find(value[i]) : std::string_view::npos;
        if (code == std::string_view::npos) {
            return std::nullopt;
        }
        text += meanings[code];
    }
    return text;
}

// The first argument of a command line: up to a blank, or a whole double-quoted one, inside which
// the quoting rules' characters take a backslash.
std::optional<std::string> firstWord(const std::string& command) {
    const std::string_view blanks = " \t\n";
    if (!command.starts_with('"')) {
        return command.substr(0, command.find_first_of(blanks));
    }
    std::string word;
    std::size_t end = 1;
    for (; end < command.size() && command[end] != '"'; ++end) {
        if (command[end] == '\\' && end + 1 < command.size() &&
            std::string_view("\"`$\\").find(command[end + 1]) != std::string_view::npos) {
            ++end;
        }
        word += command[end];
    }
    const bool closed = end < command.size();
    if (!closed || (end + 1 < command.size() && blanks.find(command[end + 1]) == std::string_view::npos)) {
        return std::nullopt;
    }
    return word;
}

// A lone percent sign starts a field code, which cannot stand for the program.
std::optional<std::string> withoutDoubledPercents(const std::string& word) {
    std::string text;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && (++i == word.size() || word[i] != '%')) {
            return std::nullopt;
        }
        text += word[i];
    }
    return text;
}

} // namespace

LaunchAtLogin LaunchAtLogin::standard() {
    std::vector<std::filesystem::path> systemFolders;
    for (const auto& folder : XdgDirs::configDirs()) {
        systemFolders.push_back(folder / "autostart");
    }
    return LaunchAtLogin(XdgDirs::configHome() / "autostart", RunningProgram::path().value_or("velm-host"),
                         std::move(systemFolders));
}

std::optional<std::string> LaunchAtLogin::set(bool enabled) const {
    // The autostart folder is the desktop's, shared with other programs: made when missing, else
    // taken as the user keeps it.
    const StoreFolder folder(folder_, StoreFolder::Kind::sharedFolder);
    if (!enabled) {
        if (hasSystemEntry()) {
            const std::string_view hidden =
                "[Desktop Entry]\nType=Application\nName=Velm Host\nHidden=true\n";
            return folder.replace(std::string(entryName), Bytes(hidden.begin(), hidden.end()))
                       ? std::nullopt
                       : std::optional<std::string>(
                             "the entry that hides the system's could not be written to " + folder_.string());
        }
        return folder.remove(std::string(entryName))
                   ? std::nullopt
                   : std::optional<std::string>("the entry could not be removed");
    }
    if (!fitsAnEntry(program_.string())) {
        return "the program's path holds characters an autostart entry cannot carry: " + program_.string();
    }
    const auto text = entry();
    const Bytes contents(text.begin(), text.end());
    if (!folder.replace(std::string(entryName), contents)) {
        return "the entry could not be written to " + folder_.string();
    }
    if (runsFromBuildFolder()) {
        launchAtLoginLog.info("the autostart entry points into a build folder: %s", program_.c_str());
    }
    return std::nullopt;
}

bool LaunchAtLogin::hasSystemEntry() const {
    std::error_code error;
    return std::any_of(systemFolders_.begin(), systemFolders_.end(),
                       [&](const std::filesystem::path& folder) {
                           return std::filesystem::exists(folder / entryName, error);
                       });
}

std::optional<std::string> LaunchAtLogin::programIn(std::string_view exec) {
    const auto command = withoutValueEscapes(exec);
    const auto word = command ? firstWord(*command) : std::nullopt;
    auto program = word ? withoutDoubledPercents(*word) : std::nullopt;
    if (!program || program->empty()) {
        return std::nullopt;
    }
    return program;
}

bool LaunchAtLogin::runsFromBuildFolder() const {
    std::error_code error;
    for (auto folder = program_.parent_path(); !folder.empty(); folder = folder.parent_path()) {
        if (std::filesystem::exists(folder / "CMakeCache.txt", error)) {
            return true;
        }
        if (folder == folder.root_path()) {
            break;
        }
    }
    return false;
}

std::string LaunchAtLogin::entry() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Velm Host\n"
           "Comment=Lets your paired tablet or phone use this computer\n"
           "Icon=velm-host\n"
           "Exec=" +
           execArgument(program_.string()) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

} // namespace velm
