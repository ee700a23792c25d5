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
    // The program file that the kernel's link to this process's program names. A file replaced since the
    // program started (an upgrade) is named "<path> (deleted)": the file now at the path is the program.
    static std::optional<std::filesystem::path> fromLink(const std::filesystem::path& link);
};

} // namespace velm
