#pragma once

#include <string>
#include <string_view>

namespace velm {

// How this computer is named to people: the pretty host name systemd keeps (PRETTY_HOSTNAME in
// /etc/machine-info), else the host name, else "Computer".
struct ComputerName {
    static constexpr std::string_view fallback = "Computer";

    static std::string pretty();
    // The same from the contents of a machine-info file and the host name, which may be empty.
    static std::string pretty(std::string_view machineInfo, std::string_view hostName);
};

} // namespace velm
