#include "Velm_Host/model/RestartReadiness.h"

#include "Velm_Host/model/IniFile.h"
#include "Velm_Host/model/LaunchAtLogin.h"

#include <array>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace velm {
namespace {

// Each display manager's settings file, the section and key that name the user it logs in, and the
// switch that must be on too, when it has one.
struct AutologinSource {
    const char* file;
    const char* section;
    const char* userKey;
    const char* enableKey;
};

constexpr std::array autologinSources{
    AutologinSource{"etc/gdm3/daemon.conf", "daemon", "AutomaticLogin", "AutomaticLoginEnable"},
    AutologinSource{"etc/lightdm/lightdm.conf", "Seat:*", "autologin-user", nullptr},
    AutologinSource{"etc/sddm.conf", "Autologin", "User", nullptr},
};

bool isTrue(const std::optional<std::string>& value) {
    return value && (*value == "true" || *value == "True" || *value == "1");
}

std::string currentUserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        return found->pw_name;
    }
    return {};
}

std::optional<bool> autologinOf(const RestartReadiness::Sources& sources) {
    std::optional<bool> answer;
    for (const auto& source : autologinSources) {
        const auto file = IniFile::read(sources.systemRoot / source.file);
        if (!file) {
            continue;
        }
        const auto user = file->value(source.section, source.userKey);
        const bool enabled =
            source.enableKey == nullptr || isTrue(file->value(source.section, source.enableKey));
        answer = answer.value_or(false) ||
                 (enabled && user && !sources.userName.empty() && *user == sources.userName);
    }
    return answer;
}

} // namespace

RestartReadiness::Sources RestartReadiness::Sources::standard() {
    return {.autostartEntry = LaunchAtLogin::standard().entryFile(),
            .systemRoot = "/",
            .userName = currentUserName()};
}

RestartReadiness RestartReadiness::read(const Sources& sources) {
    std::error_code ignored;
    return {.opensAtLogin = std::filesystem::is_regular_file(sources.autostartEntry, ignored),
            .logsInAutomatically = autologinOf(sources),
            .startsAfterPowerFailure = std::nullopt};
}

} // namespace velm
