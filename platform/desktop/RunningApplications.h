#pragma once

#include "platform/desktop/DesktopApp.h"
#include "platform/display/WindowOwner.h"

#include <string>
#include <vector>

namespace velm {

// Which installed applications have windows: a window belongs to an application when the program
// of its process (_NET_WM_PID, /proc/PID/exe) is the one the entry's Exec line starts, or when its
// WM_CLASS class or instance is the entry's StartupWMClass.
namespace RunningApplications {

// The applications with windows, each once, in the order of their first window.
std::vector<DesktopApp> match(const std::vector<WindowOwner>& windows,
                              const std::vector<DesktopApp>& installed);

// The file name of a process's program; empty when it cannot be read.
std::string programName(long pid);

} // namespace RunningApplications

} // namespace velm
