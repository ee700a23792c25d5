#pragma once

#include <filesystem>

namespace velm::test {

// A program that is there to run, for an autostart entry to name: this test executable itself.
inline std::filesystem::path runnableProgram() {
    return std::filesystem::read_symlink("/proc/self/exe");
}

} // namespace velm::test
