#include "platform/system/RunningProgram.h"

namespace velm {

std::optional<std::filesystem::path> RunningProgram::path() {
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    return program;
}

} // namespace velm
