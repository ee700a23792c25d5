#pragma once

#include "platform/core/Bytes.h"

#include <filesystem>
#include <string>

namespace velm::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    static void writeFile(const std::filesystem::path& file, const std::string& contents);
    static std::string readFile(const std::filesystem::path& file);

private:
    std::filesystem::path path_;
};

} // namespace velm::test
