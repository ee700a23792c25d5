#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/net/IpAddress.h"
#include "platform/net/NetError.h"
#include "platform/net/UdpSocket.h"
#include "transport/away/door/Door.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velm {

// The device's side of the knock protocol: knocks on the host's door ports (one per
// accepted window) and waits for the sealed reply, which names the control port of a
// session listener opened for this device and yields the session key.
//
// A door client is one knock attempt. All its knocks carry one knock id, and the host
// spends that id once it admits it, so a second attempt must be a new client: there
// is no way to knock twice on one client.
//
// Runs on the caller's queue; the completion is called there exactly once, unless
// cancel() comes first. The client holds itself only weakly: once its owner releases it, it stops and never
// calls back.
class DoorClient : public std::enable_shared_from_this<DoorClient> {
public:
    struct Admitted {
        // The host as given, with the control port from the reply.
        std::string host;
        std::uint16_t controlPort = 0;
        SecretBytes sessionKey;

        friend bool operator==(const Admitted&, const Admitted&) = default;
    };
    // The host answered and refused.
    struct Refused {
        friend bool operator==(const Refused&, const Refused&) = default;
    };
    // No usable reply within the give-up time.
    struct NoAnswer {
        friend bool operator==(const NoAnswer&, const NoAnswer&) = default;
    };
    using Outcome = std::variant<Admitted, Refused, NoAnswer>;
    using Completion = std::function<void(Outcome)>;

    // Knocks after each door connection is ready, from that moment.
    static constexpr std::array<std::chrono::milliseconds, 5> sendTimes = {
        std::chrono::milliseconds(0), std::chrono::milliseconds(350), std::chrono::milliseconds(900),
        std::chrono::milliseconds(1800), std::chrono::milliseconds(3000)};
    static constexpr std::chrono::milliseconds giveUp{4500};

    // Starts the one knock of a new client on `queue`: to `address` (the host's public
    // address, a name or an IP literal), with the device's key, on `doorPort` for
    // every window when given, else on each window's own door port.
    static std::shared_ptr<DoorClient> knock(std::string address, SecretBytes deviceKey,
                                             std::optional<std::uint16_t> doorPort,
                                             std::shared_ptr<Queue> queue, Completion completion);
    ~DoorClient();
    DoorClient(const DoorClient&) = delete;
    DoorClient& operator=(const DoorClient&) = delete;

    // On the queue: drops the completion unheard and closes everything.
    void cancel();

    // This attempt's knock id, the same on every knock it sends.
    const Door::KnockId& knockId() const { return knocker_.id(); }

private:
    struct Connection {
        std::uint64_t window = 0;
        UdpSocket socket;
    };
    // One byte more than a reply, to tell a longer datagram from one.
    static constexpr std::size_t readSize = Door::replyLength + 1;

    DoorClient(std::string address, SecretBytes deviceKey, std::optional<std::uint16_t> doorPort,
               std::shared_ptr<Queue> queue, Completion completion);

    void start();
    void resolved(const std::vector<IpAddress>& addresses);
    void connect(const IpAddress& address);
    void send(std::size_t connection);
    void receive(std::size_t connection);
    void received(std::size_t connection, const UdpSocket::Datagram& datagram,
                  const std::optional<NetError>& error);
    void finish(Outcome outcome);
    void tearDown();

    std::string address_;
    std::optional<std::uint16_t> doorPort_;
    Door::Knocker knocker_;
    std::shared_ptr<Queue> queue_;
    Completion completion_;
    std::vector<std::uint64_t> windows_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<WorkItem> timers_;
};

} // namespace velm
