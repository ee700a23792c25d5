#pragma once

#include "tests/support/TemporaryFolder.h"

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace velm::test {

// The whole environment of a program run by a test: a home, settings, data and a private runtime
// folder of its own under `folder`, and of the test's own environment only the variables in `passed`
// that are set.
inline std::vector<std::string> programEnvironment(const TemporaryFolder& folder,
                                                   std::initializer_list<const char*> passed) {
    mkdir((folder / "run").c_str(), 0700);
    std::vector<std::string> environment{
        "PATH=/usr/bin:/bin",
        "HOME=" + folder.path().string(),
        "XDG_CONFIG_HOME=" + (folder / "config").string(),
        "XDG_DATA_HOME=" + (folder / "data").string(),
        "XDG_RUNTIME_DIR=" + (folder / "run").string(),
    };
    for (const char* name : passed) {
        if (const char* value = std::getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    return environment;
}

} // namespace velm::test
