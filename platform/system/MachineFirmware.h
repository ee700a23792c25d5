#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace velm {

// What this machine's firmware says it is, as the raw contents of the files the kernel
// publishes (a missing or unreadable one is absent). Callers make text of them.
struct MachineFirmware {
    // Firmware strings are short; a file is read no further than this.
    static constexpr std::size_t fileLimit = 4096;

    // DMI product name and family (PCs), and the device tree's model (boards without DMI).
    std::optional<std::string> productName;
    std::optional<std::string> productFamily;
    std::optional<std::string> deviceTreeModel;

    static MachineFirmware read();
};

} // namespace velm
