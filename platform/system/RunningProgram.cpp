#include "platform/system/RunningProgram.h"

#include <string>
#include <string_view>

namespace velm {

std::optional<std::filesystem::path> RunningProgram::path() {
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    // The kernel marks a file removed since the process started; a package upgrade or a rebuild
    // removes it to put the program's new file in its place.
    constexpr std::string_view removedMark = " (deleted)";
    const std::string& named = program.native();
    if (named.ends_with(removedMark) && !std::filesystem::exists(program, error)) {
        program = named.substr(0, named.size() - removedMark.size());
        if (!std::filesystem::exists(program, error)) {
            return std::nullopt;
        }
    }
    return program;
}

} // namespace velm
