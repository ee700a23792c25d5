#pragma once

#include <filesystem>

namespace velm {

// The user's base folders as the XDG base-directory rules name them. A relative
// or empty variable is ignored, as those rules demand.
struct XdgDirs {
    static std::filesystem::path home();
    // $XDG_CONFIG_HOME, else ~/.config
    static std::filesystem::path configHome();
    // $XDG_DATA_HOME, else ~/.local/share
    static std::filesystem::path dataHome();
};

} // namespace velm
