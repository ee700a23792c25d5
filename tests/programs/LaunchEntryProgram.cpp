// Answers each line it reads with the Exec value of the autostart entry "Open at Login" would write
// for this process: a program whose file a test replaces or removes while it runs.
#include "Velm_Host/model/LaunchAtLogin.h"

#include <iostream>
#include <string>

int main() {
    for (std::string line; std::getline(std::cin, line);) {
        const auto entry = velm::LaunchAtLogin::standard().entry();
        const auto start = entry.find("\nExec=") + 6;
        std::cout << entry.substr(start, entry.find('\n', start) - start) << std::endl;
    }
}
