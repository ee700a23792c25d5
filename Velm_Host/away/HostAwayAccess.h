#pragma once

#include "Velm_Host/away/AwayDevices.h"
#include "Velm_Host/away/AwayStatus.h"
#include "Velm_Host/away/AwayTicket.h"
#include "transport/channel/ControlChannel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velm {

// What the host model asks of away access: doors and router mappings for paired devices outside the
// home network, and the channels that come through them. Its handlers and completions run on away
// access's own queue; the model hops to the main queue itself.
class HostAwayAccess {
public:
    using Status = AwayStatus;
    using Ticket = AwayTicket;
    using Device = AwayDevice;
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
