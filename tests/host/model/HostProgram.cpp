#include "tests/host/model/HostProgram.h"

#include "platform/dispatch/Queue.h"
#include "tests/support/Blocking.h"
#include "tests/support/EventLog.h"
#include "tests/support/ProgramEnvironment.h"
#include "transport/client/requests/PairingClient.h"

#include <algorithm>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace velm::test {

using namespace std::chrono_literals;

namespace {

std::uint16_t portOf(const std::string& listening) {
    return static_cast<std::uint16_t>(
        std::stoi(listening.substr(std::string_view("listening on port ").size())));
}

} // namespace

HostProgram::HostProgram(std::string program, std::vector<std::string> arguments,
                         std::vector<std::string> changes)
    : program_(std::move(program)) {
    start(std::move(arguments), std::move(changes));
}

void HostProgram::start(std::vector<std::string> arguments, std::vector<std::string> changes) {
    auto environment = programEnvironment(
        folder, {"DBUS_SYSTEM_BUS_ADDRESS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"});
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    for (const auto& change : changes) {
        const auto name = change.substr(0, change.find('=') + 1);
        std::erase_if(environment, [&](const std::string& entry) { return entry.starts_with(name); });
        environment.push_back(change);
    }
    arguments.insert(arguments.begin(), program_);
    child.reset();
    port = 0;
    code.clear();
    child = ChildProcess::start(arguments, environment, ChildProcess::Output::pipedWithErrors,
                                ChildProcess::Environment::only);
}

std::optional<std::string> HostProgram::awaitLine(std::string_view prefix) {
    while (const auto line = child->readLine(20s)) {
        lines.push_back(*line);
        if (line->starts_with(prefix)) {
            return line;
        }
    }
    return std::nullopt;
}

bool HostProgram::awaitListening() {
    const auto line = awaitLine("listening on port ");
    if (line) {
        port = portOf(*line);
    }
    return line.has_value();
}

bool HostProgram::awaitPairing() {
    while (!port || code.empty()) {
        const auto line = awaitLine("");
        if (!line) {
            return false;
        }
        if (line->starts_with("listening on port ")) {
            port = portOf(*line);
        } else if (line->starts_with("pairing code ")) {
            code = line->substr(13, 3) + line->substr(17, 3);
        }
    }
    return true;
}

std::vector<std::string> HostProgram::said(std::string_view prefix) const {
    std::vector<std::string> chosen;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(chosen),
                 [&](const std::string& line) { return line.starts_with(prefix); });
    return chosen;
}

DefaultsStore HostProgram::settings() const {
    return DefaultsStore(folder / "config" / "velm-host");
}

ConnectionLog HostProgram::history() const {
    const auto stored = settings().jsonValue("connectionHistory");
    const auto text = stored ? stored->dump() : std::string("{}");
    return ConnectionLog::fromStoredForm(Bytes(text.begin(), text.end()));
}

std::unique_ptr<TestClient> HostProgram::openSession(const std::string& deviceID,
                                                     const SecretBytes& key) const {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (auto client =
                helloedClient(Endpoint::hostPort("127.0.0.1", port), deviceID, key,
                              [](const auto& condition) { return Blocking::waitUntil(condition); })) {
            return client;
        }
        std::this_thread::sleep_for(100ms);
    }
    return nullptr;
}

// The pairing window's opening starts the listener again with the code's key, and the code is shown
// as that start begins: a try that meets the moment between the two listeners is made again. A code
// the host refused is an answer, and is not tried again.
std::optional<SecretBytes> HostProgram::pair(const std::string& pairingCode) const {
    for (int attempt = 0; attempt < 10; ++attempt) {
        EventLog<PairingOutcome> outcomes;
        PairingClient::make(Endpoint::hostPort("127.0.0.1", port), pairingCode)
            ->start("test-ipad", "Test iPad", Queue::make("test.pairing"),
                    [&](PairingOutcome outcome) { outcomes.push(outcome); });
        if (!outcomes.waitForCount(1)) {
            return std::nullopt;
        }
        const auto outcome = outcomes.values()[0];
        if (const auto* paired = outcome.get<PairingOutcome::Paired>()) {
            return paired->deviceKey;
        }
        if (outcome.get<PairingOutcome::CodeRejected>()) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(100ms);
    }
    return std::nullopt;
}

bool HostProgram::logsToStandardError() {
    return access("/run/systemd/journal/socket", W_OK) != 0;
}

} // namespace velm::test
