#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace velm {

// The user's base folders as the XDG base-directory rules name them. A relative
// or empty variable is ignored, as those rules demand.
struct XdgDirs {
    static std::filesystem::path home();
    // $XDG_CONFIG_HOME, else ~/.config
    static std::filesystem::path configHome();
    // The system's configuration folders, most important first: $XDG_CONFIG_DIRS (separated by
    // colons), else /etc/xdg.
    static std::vector<std::filesystem::path> configDirs();
    // $XDG_DATA_HOME, else ~/.local/share
    static std::filesystem::path dataHome();
    // Where received files go: what `xdg-user-dir DOWNLOAD` answers from
    // $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Downloads.
    static std::filesystem::path downloadFolder();
    // $XDG_RUNTIME_DIR when it is a real folder of ours with no access for others, else a private
    // folder of this user's under /tmp (made 0700 when missing); nothing when that one is not such a
    // folder either.
    static std::optional<std::filesystem::path> runtimeFolder();

    // The folder a user-dirs.dirs file names under `key` ("XDG_DOWNLOAD_DIR"): an absolute
    // path or one starting "$HOME/", in double quotes; nothing when the entry is missing or
    // malformed. The last entry of the key counts.
    static std::optional<std::filesystem::path> userDir(std::string_view contents, std::string_view key,
                                                        const std::filesystem::path& home);
};

} // namespace velm
