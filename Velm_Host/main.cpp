// velm-host: the host. With a display it is a tray application with a main window; without one it runs
// headless. Either way it runs until it is quit (the menu, SIGTERM or SIGINT) and tells on standard
// output what a person needs to know: where it listens, the pairing code, sessions starting and ending.

#include "Velm_Host/ui/DesktopApplication.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr const char* usage =
    "usage: velm-host [--pair]\n"
    "\n"
    "Runs Velm Host until it is quit (its menu, Ctrl-C or SIGTERM): it advertises this\n"
    "computer on the local network and lets paired tablets and phones use it. With a\n"
    "display it shows an icon in the system tray (or its window, without a tray).\n"
    "\n"
    "  --pair      open a pairing window at start, show and print its code\n"
    "  --version   print the version and exit\n"
    "  -h, --help  print this help and exit\n";

} // namespace

int main(int argc, char** argv) {
    velm::DesktopApplication::Flags flags;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::puts("velm-host " VELM_HOST_VERSION);
            return 0;
        }
        if (argument != "--pair") {
            std::fprintf(stderr, "velm-host: unknown option %s (see --help)\n",
                         std::string(argument).c_str());
            return 1;
        }
        flags.pair = true;
    }
    return velm::DesktopApplication::run(argc, argv, flags);
}
