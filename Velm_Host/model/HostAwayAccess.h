#pragma once

#include "platform/core/Date.h"
#include "platform/crypto/SecretBytes.h"
#include "transport/channel/ControlChannel.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// What the host model asks of away access: doors and router mappings for paired devices outside the
// home network, and the channels that come through them. Its handlers run on away access's own queue;
// the model hops to the main queue itself.
class HostAwayAccess {
public:
    struct Status {
        enum class Kind {
            ready,         // reachable from outside at `address`
            notReachable,  // the router's own external address, `address`, is not public
            off,           // away access is off
            looking,       // just switched on; nothing decided yet
            noRouter,      // no router answered
            routerRefused, // the router refused the door mappings
        };
        Kind kind = Kind::off;
        std::string address;

        friend bool operator==(const Status&, const Status&) = default;
    };

    // Names one channel that came through the door; handed back for its video port and at its end.
    struct Ticket {
        std::array<std::uint8_t, 16> knockID{};
        std::uint64_t connection = 0;

        friend bool operator==(const Ticket&, const Ticket&) = default;
    };

    struct Device {
        std::string id;
        SecretBytes key;
        // When its away access lapses; none for no end.
        std::optional<Date> until;

        friend bool operator==(const Device&, const Device&) = default;
    };

    using StatusHandler = std::function<void(const Status&)>;
    using ConnectionHandler = std::function<void(std::shared_ptr<ControlChannel>, Ticket)>;
    using VideoPortDone = std::function<void(std::optional<std::uint16_t> externalPort)>;

    virtual ~HostAwayAccess() = default;

    virtual void setOnStatus(StatusHandler handler) = 0;
    // Each channel's ticket must be handed to connectionEnded exactly once, also when it is refused.
    virtual void setOnConnection(ConnectionHandler handler) = 0;
    // On or off, with the paired devices newest first.
    virtual void setEnabled(bool enabled, std::vector<Device> devices) = 0;
    virtual void connectionEnded(Ticket ticket) = 0;
    virtual void forwardVideoPort(std::uint16_t port, Ticket ticket, VideoPortDone done) = 0;
    // Closes every door and mapping, then calls `done`.
    virtual void stop(std::function<void()> done) = 0;
};

// A host without away access: always off, no door opens.
class NoAwayAccess final : public HostAwayAccess {
public:
    void setOnStatus(StatusHandler) override {}
    void setOnConnection(ConnectionHandler) override {}
    void setEnabled(bool, std::vector<Device>) override {}
    void connectionEnded(Ticket) override {}
    void forwardVideoPort(std::uint16_t, Ticket, VideoPortDone done) override { done(std::nullopt); }
    void stop(std::function<void()> done) override { done(); }
};

} // namespace velm
