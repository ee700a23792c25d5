#include "tests/support/TemporaryFolder.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

namespace velm::test {
namespace {

// The folders of this process that are still there. A death test's child leaves through exit(), which
// runs no destructor of the fixture that made its folder; what it made is removed at exit instead.
// Folders are removed only by the process that made them, never by a forked child that inherited them.
struct LiveFolders {
    std::mutex lock;
    std::map<std::filesystem::path, pid_t> makers;
};

void removeLeftovers();

LiveFolders& liveFolders() {
    // Never destroyed, so that it is still there for the exit handler.
    static LiveFolders* const folders = [] {
        auto* made = new LiveFolders;
        std::atexit(removeLeftovers);
        return made;
    }();
    return *folders;
}

void removeLeftovers() {
    auto& folders = liveFolders();
    // A child forked while another thread held the lock would wait forever.
    if (!folders.lock.try_lock()) {
        return;
    }
    std::error_code ignored;
    for (const auto& [path, maker] : folders.makers) {
        if (maker == getpid()) {
            std::filesystem::remove_all(path, ignored);
        }
    }
    folders.lock.unlock();
}

} // namespace

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velm-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = pattern;
    auto& folders = liveFolders();
    std::lock_guard guard(folders.lock);
    folders.makers[path_] = getpid();
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    auto& folders = liveFolders();
    std::lock_guard guard(folders.lock);
    folders.makers.erase(path_);
}

void TemporaryFolder::writeFile(const std::filesystem::path& file, const std::string& contents) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::string TemporaryFolder::readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace velm::test
