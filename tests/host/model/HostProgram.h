#pragma once

#include "platform/crypto/SecretBytes.h"
#include "platform/store/DefaultsStore.h"
#include "protocol/ConnectionLog.h"
#include "tests/host/session/SessionHarness.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryFolder.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm::test {

// velm-host as a person runs it, as a child on folders of its own, without a display unless the test
// gives one. What it prints and logs (its standard error joins its output) is read line by line; every
// line read is kept in `said`.
class HostProgram {
public:
    // `program` is the velm-host the build made; `changes` ("NAME=value") replace variables of its
    // environment, which otherwise passes on only the system bus's address and the sanitizers' options.
    HostProgram(std::string program, std::vector<std::string> arguments,
                std::vector<std::string> changes = {});

    // Runs it again on the same folders.
    void start(std::vector<std::string> arguments, std::vector<std::string> changes = {});

    // Reads on until a line that starts with `prefix`: that line, or nothing when none came in time.
    std::optional<std::string> awaitLine(std::string_view prefix);
    // Reads until it listens; sets `port`.
    bool awaitListening();
    // Reads until it listens and has shown the pairing code; sets `port` and `code`.
    bool awaitPairing();
    // The lines read so far that start with `prefix`.
    std::vector<std::string> said(std::string_view prefix) const;

    DefaultsStore settings() const;
    ConnectionLog history() const;
    // A session of the device that got the host's hello; the listener starts again when its keys
    // change (as after a pairing), so a connection that meets the moment between is made again.
    std::unique_ptr<TestClient> openSession(const std::string& deviceID, const SecretBytes& key) const;
    // Pairs "test-ipad" ("Test iPad") with `pairingCode` over loopback: the device's key, or nothing.
    std::optional<SecretBytes> pair(const std::string& pairingCode) const;

    // Log lines reach the standard error only where no journal takes them.
    static bool logsToStandardError();

    TemporaryFolder folder;
    std::unique_ptr<ChildProcess> child;
    std::uint16_t port = 0;
    std::string code;
    std::vector<std::string> lines;

private:
    const std::string program_;
};

} // namespace velm::test
