#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velm {

// This process's user as the password database has them, which the environment can't be trusted to tell:
// $HOME may be unset or point elsewhere, and $USER is whatever the caller set.
struct UserAccount {
    std::string name;
    // Empty when the database names no absolute home folder.
    std::filesystem::path home;

    // The entry of the effective user; nothing when the database has none.
    static std::optional<UserAccount> current();
};

} // namespace velm
