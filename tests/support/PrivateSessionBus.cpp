#include "tests/support/PrivateSessionBus.h"

namespace velm::test {

std::unique_ptr<PrivateSessionBus> PrivateSessionBus::start() {
    auto bus = std::make_unique<PrivateSessionBus>();
    const auto config = bus->folder_ / "bus.conf";
    TemporaryFolder::writeFile(
        config, "<busconfig><type>session</type><listen>unix:path=" + (bus->folder_ / "bus").string() +
                    "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                    "<allow receive_sender=\"*\"/>"
                    "<allow own=\"*\"/></policy></busconfig>");
    bus->daemon_ = ChildProcess::start({"/usr/bin/dbus-daemon", "--config-file=" + config.string(),
                                        "--nofork", "--nopidfile", "--print-address"},
                                       {}, ChildProcess::Output::piped);
    // It prints its address once it listens.
    const auto address = bus->daemon_ ? bus->daemon_->readLine() : std::nullopt;
    if (!address || address->empty()) {
        return nullptr;
    }
    bus->address_ = *address;
    return bus;
}

} // namespace velm::test
