#include "tests/support/PrivateDisplay.h"

#include <csignal>

namespace velm::test {

std::unique_ptr<PrivateDisplay> PrivateDisplay::start() {
    auto display = std::make_unique<PrivateDisplay>();
    // It prints the number it took once it accepts clients.
    display->server_ =
        ChildProcess::start({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                            {}, ChildProcess::Output::piped);
    const auto number = display->server_ ? display->server_->readLine() : std::nullopt;
    if (!number || number->empty()) {
        return nullptr;
    }
    display->name_ = ":" + *number;
    return display;
}

PrivateDisplay::~PrivateDisplay() {
    thaw();
}

void PrivateDisplay::freeze() {
    isFrozen_ = kill(server_->pid(), SIGSTOP) == 0;
}

void PrivateDisplay::thaw() {
    if (isFrozen_) {
        kill(server_->pid(), SIGCONT);
        isFrozen_ = false;
    }
}

} // namespace velm::test
