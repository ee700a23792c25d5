#pragma once

#include "Velm_Host/away/AwayMappingLedger.h"
#include "platform/dispatch/Queue.h"
#include "platform/store/DefaultsStore.h"
#include "transport/away/router/PortMapper.h"
#include "transport/away/router/RouterClient.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace velm {

// The home router as away access uses it: the port mapper, with every mapping it makes kept in a
// ledger in the settings from before it is asked for until it is removed again, so that what a
// crash leaves on the router is removed at the next start (removeLeftovers).
//
// Runs on its owner's queue, which the port mapper shares; every completion is called there.
class AwayRouter : public std::enable_shared_from_this<AwayRouter> {
public:
    using Transport = PortMapper::Transport;
    template <class T> using Result = PortMapper::Result<T>;
    using Lease = PortMapper::Lease;

    static std::shared_ptr<AwayRouter> make(std::shared_ptr<Queue> queue,
                                            std::shared_ptr<RouterClient> client, PortMapper::Timing timing,
                                            std::shared_ptr<DefaultsStore> settings);

    void externalAddress(std::function<void(Result<std::string>)> done);
    // Maps `port`, or a random external port when the router has that one taken; gives the
    // external port.
    void map(Transport transport, std::uint16_t port, Lease lease,
             std::function<void(Result<std::uint16_t>)> done);
    // Maps exactly `external` to `internal`.
    void map(Transport transport, std::uint16_t external, std::uint16_t internal, Lease lease,
             std::function<void(Result<std::monostate>)> done);
    // Never fails from the caller's view.
    void unmap(Transport transport, std::uint16_t external, std::function<void()> done = {});

    // Removes what the ledger remembers from an earlier run on the router found now. Mappings
    // made on another router are kept for when that one is back; with no router, all are kept.
    // One made for an address this computer no longer has is removed only while the router
    // still forwards it there under our name.
    void removeLeftovers(std::function<void()> done);

private:
    // How our mappings are described on the router.
    static constexpr std::string_view label = "Velm";

    AwayRouter(std::shared_ptr<PortMapper> mapper, std::shared_ptr<DefaultsStore> settings);

    // Runs `step` with the router, or fails `done` when there is none.
    template <class Done, class Step> void withGateway(Done done, Step step);
    void removeFormer(const AwayMappingLedger::Mapping& mapping, std::function<void()> next);
    static AwayMappingLedger::Mapping mappingOn(const PortMapper::Gateway& gateway, Transport transport,
                                                std::uint16_t port);

    const std::shared_ptr<PortMapper> mapper_;
    AwayMappingLedger ledger_;
};

} // namespace velm
