#pragma once

#include <filesystem>
#include <optional>

namespace velm {

// The program file this process runs, as the kernel names it.
class RunningProgram {
public:
    RunningProgram() = delete;

    // Absent when the kernel cannot say (no /proc, or the file was removed since it started).
    static std::optional<std::filesystem::path> path();
};

} // namespace velm
