#include "Velm_Host/away/AwayRouter.h"

#include "Velm_Host/away/InTurn.h"
#include "platform/dispatch/WhileAlive.h"
#include "transport/away/router/TagScanner.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velm {

std::shared_ptr<AwayRouter> AwayRouter::make(std::shared_ptr<Queue> queue,
                                             std::shared_ptr<RouterClient> client, PortMapper::Timing timing,
                                             std::shared_ptr<DefaultsStore> settings) {
    auto mapper = PortMapper::make(std::string(label), std::move(queue), std::move(client), timing);
    return std::shared_ptr<AwayRouter>(new AwayRouter(std::move(mapper), std::move(settings)));
}

AwayRouter::AwayRouter(std::shared_ptr<PortMapper> mapper, std::shared_ptr<DefaultsStore> settings)
    : mapper_(std::move(mapper)), ledger_(std::move(settings)) {}

void AwayRouter::externalAddress(std::function<void(Result<std::string>)> done) {
    mapper_->externalAddress(std::move(done));
}

// Each mapping is written to the ledger before the router is asked for it: written afterwards, a
// crash between the router's answer and the record would leave it on the router unknown. A request
// that fails takes its record back, unless an earlier mapping of that port made it. So does each port
// the router refused for a conflict, once the next is asked for: that mapping is someone else's.
void AwayRouter::map(Transport transport, std::uint16_t port, Lease lease,
                     std::function<void(Result<std::uint16_t>)> done) {
    withGateway(done, [=](AwayRouter& self, const PortMapper::Gateway& gateway) {
        const std::string router = AwayMappingLedger::routerOf(gateway);
        // The port asked for last, when this request recorded it.
        auto added = std::make_shared<std::optional<std::uint16_t>>();
        const auto takeBack = [transport, router, added](AwayRouter& owner) {
            if (*added) {
                owner.ledger_.remove(transport, **added, router);
                added->reset();
            }
        };
        self.mapper_->map(
            transport, port, lease,
            whileAlive(self.shared_from_this(),
                       [=](AwayRouter& owner, Result<std::uint16_t> result) {
                           if (!result.ok()) {
                               takeBack(owner);
                           }
                           done(std::move(result));
                       }),
            [weak = self.weak_from_this(), gateway, transport, added, takeBack](std::uint16_t external) {
                if (const auto owner = weak.lock()) {
                    takeBack(*owner);
                    if (owner->ledger_.add(mappingOn(gateway, transport, external))) {
                        *added = external;
                    }
                }
            });
    });
}

void AwayRouter::map(Transport transport, std::uint16_t external, std::uint16_t internal, Lease lease,
                     std::function<void(Result<std::monostate>)> done) {
    withGateway(done, [=](AwayRouter& self, const PortMapper::Gateway& gateway) {
        const bool added = self.ledger_.add(mappingOn(gateway, transport, external));
        self.mapper_->map(
            transport, external, internal, lease,
            whileAlive(self.shared_from_this(), [=](AwayRouter& owner, Result<std::monostate> result) {
                if (added && !result.ok()) {
                    owner.ledger_.remove(transport, external, AwayMappingLedger::routerOf(gateway));
                }
                done(std::move(result));
            }));
    });
}

void AwayRouter::unmap(Transport transport, std::uint16_t external, std::function<void()> done) {
    // Forgotten only once the router has let it go: one that could not be asked, or kept it, may
    // still forward the port, so the record stays for the next start to remove. The router asked is
    // the one found now; a mapping of the port on another router keeps its record.
    const auto finish = [done](const auto&) {
        if (done) {
            done();
        }
    };
    withGateway(finish, [=](AwayRouter& self, const PortMapper::Gateway& gateway) {
        self.mapper_->unmap(
            transport, external,
            whileAlive(self.shared_from_this(),
                       [=, router = AwayMappingLedger::routerOf(gateway)](AwayRouter& owner, bool gone) {
                           if (gone) {
                               owner.ledger_.remove(transport, external, router);
                           }
                           finish(gone);
                       }));
    });
}

template <class Done, class Step> void AwayRouter::withGateway(Done done, Step step) {
    mapper_->currentGateway(
        whileAlive(shared_from_this(), [done, step](AwayRouter& self, Result<PortMapper::Gateway> gateway) {
            if (!gateway.ok()) {
                done(gateway.failure());
                return;
            }
            step(self, gateway.value());
        }));
}

AwayMappingLedger::Mapping AwayRouter::mappingOn(const PortMapper::Gateway& gateway, Transport transport,
                                                 std::uint16_t port) {
    return {transport, port, AwayMappingLedger::routerOf(gateway), gateway.localAddress};
}

void AwayRouter::removeLeftovers(std::function<void()> done) {
    if (ledger_.mappings().empty()) {
        done();
        return;
    }
    mapper_->currentGateway(
        whileAlive(shared_from_this(), [done](AwayRouter& self, Result<PortMapper::Gateway> gateway) {
            if (!gateway.ok()) {
                done();
                return;
            }
            const std::string router = AwayMappingLedger::routerOf(gateway.value());
            std::vector<AwayMappingLedger::Mapping> ours;
            for (const auto& mapping : self.ledger_.mappings()) {
                if (mapping.router == router) {
                    ours.push_back(mapping);
                }
            }
            inTurn<AwayMappingLedger::Mapping>(
                std::move(ours),
                [weak = self.weak_from_this(), localAddress = gateway.value().localAddress](
                    const AwayMappingLedger::Mapping& mapping, std::function<void()> next) {
                    if (const auto owner = weak.lock()) {
                        if (mapping.client == localAddress) {
                            owner->unmap(mapping.transport, mapping.port, std::move(next));
                        } else {
                            owner->removeFormer(mapping, std::move(next));
                        }
                    }
                },
                done);
        }));
}

// A mapping made for an address this computer had before on this router forwards the port to whoever
// has that address now, so it goes too; but the router is asked first whether it still forwards there
// under our name, for the port may since be someone else's mapping, which is left alone. The record is
// forgotten once the router holds no mapping of ours there; one that could not be asked keeps it.
void AwayRouter::removeFormer(const AwayMappingLedger::Mapping& mapping, std::function<void()> next) {
    SoapArguments arguments = {
        {"NewRemoteHost", ""},
        {"NewExternalPort", std::to_string(mapping.port)},
        {"NewProtocol", std::string(PortMapper::rawValue(mapping.transport))},
    };
    mapper_->soap(
        "GetSpecificPortMappingEntry", std::move(arguments),
        whileAlive(shared_from_this(), [mapping, next](AwayRouter& self, Result<std::string> answer) {
            if (!answer.ok() && !answer.failure().isRefused(PortMapper::noSuchEntry)) {
                next();
                return;
            }
            if (answer.ok() && TagScanner::tagValue("NewInternalClient", answer.value()) == mapping.client &&
                TagScanner::tagValue("NewPortMappingDescription", answer.value()) == label) {
                self.unmap(mapping.transport, mapping.port, next);
                return;
            }
            self.ledger_.remove(mapping.transport, mapping.port, mapping.router);
            next();
        }));
}

} // namespace velm
