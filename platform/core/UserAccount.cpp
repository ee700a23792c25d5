#include "platform/core/UserAccount.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace velm {

std::optional<UserAccount> UserAccount::current() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    UserAccount account;
    if (found->pw_name != nullptr) {
        account.name = found->pw_name;
    }
    if (found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        account.home = found->pw_dir;
    }
    return account;
}

} // namespace velm
