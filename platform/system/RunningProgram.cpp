#include "platform/system/RunningProgram.h"

#include <string_view>

namespace velm {

std::optional<std::filesystem::path> RunningProgram::path() {
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    return fromLink(program);
}

std::optional<std::filesystem::path> RunningProgram::fromLink(const std::filesystem::path& link) {
    constexpr std::string_view gone = " (deleted)";
    std::error_code error;
    const std::string& text = link.native();
    if (std::filesystem::exists(link, error) || !text.ends_with(gone)) {
        return link;
    }
    std::filesystem::path replaced(text.substr(0, text.size() - gone.size()));
    if (!std::filesystem::exists(replaced, error)) {
        return std::nullopt;
    }
    return replaced;
}

} // namespace velm
