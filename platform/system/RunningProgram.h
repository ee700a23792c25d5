#pragma once

#include <filesystem>
#include <optional>

namespace velm {

// The program file this process runs, as the kernel names it.
class RunningProgram {
public:
    RunningProgram() = delete;

    // The path it was started from, where the program's file may since have been replaced by another;
    // absent when the kernel cannot say (no /proc) or nothing is there any more.
    static std::optional<std::filesystem::path> path();
};

} // namespace velm
