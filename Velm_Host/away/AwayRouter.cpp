#include "Velm_Host/away/AwayRouter.h"

#include "Velm_Host/away/InTurn.h"
#include "platform/dispatch/WhileAlive.h"

#include <utility>
#include <vector>

namespace velm {

std::shared_ptr<AwayRouter> AwayRouter::make(std::shared_ptr<Queue> queue,
                                             std::shared_ptr<RouterClient> client, PortMapper::Timing timing,
                                             std::shared_ptr<DefaultsStore> settings) {
    auto mapper = PortMapper::make("Velm", std::move(queue), std::move(client), timing);
    return std::shared_ptr<AwayRouter>(new AwayRouter(std::move(mapper), std::move(settings)));
}

AwayRouter::AwayRouter(std::shared_ptr<PortMapper> mapper, std::shared_ptr<DefaultsStore> settings)
    : mapper_(std::move(mapper)), ledger_(std::move(settings)) {}

void AwayRouter::externalAddress(std::function<void(Result<std::string>)> done) {
    mapper_->externalAddress(std::move(done));
}

void AwayRouter::map(Transport transport, std::uint16_t port, Lease lease,
                     std::function<void(Result<std::uint16_t>)> done) {
    mapper_->map(
        transport, port, lease,
        whileAlive(shared_from_this(), [transport, done](AwayRouter& self, Result<std::uint16_t> result) {
            if (!result.ok()) {
                done(std::move(result));
                return;
            }
            const std::uint16_t external = result.value();
            self.remember(transport, external, [done, external] { done(external); });
        }));
}

void AwayRouter::map(Transport transport, std::uint16_t external, std::uint16_t internal, Lease lease,
                     std::function<void(Result<std::monostate>)> done) {
    mapper_->map(transport, external, internal, lease,
                 whileAlive(shared_from_this(),
                            [transport, external, done](AwayRouter& self, Result<std::monostate> result) {
                                if (!result.ok()) {
                                    done(std::move(result));
                                    return;
                                }
                                self.remember(transport, external, [done] { done(std::monostate{}); });
                            }));
}

void AwayRouter::unmap(Transport transport, std::uint16_t external, std::function<void()> done) {
    // Forgotten only once the request is through: a crash before that leaves it remembered.
    mapper_->unmap(transport, external,
                   whileAlive(shared_from_this(), [transport, external, done](AwayRouter& self) {
                       self.ledger_.remove(transport, external);
                       if (done) {
                           done();
                       }
                   }));
}

void AwayRouter::remember(Transport transport, std::uint16_t external, std::function<void()> done) {
    // The router the mapper remembers is the one that has just answered, so this does not search.
    mapper_->currentGateway(
        whileAlive(shared_from_this(), [transport, external, done](AwayRouter& self,
                                                                   Result<PortMapper::Gateway> gateway) {
            if (gateway.ok()) {
                self.ledger_.add({transport, external, AwayMappingLedger::routerOf(gateway.value()),
                                  gateway.value().localAddress});
            }
            done();
        }));
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
                if (mapping.router == router && mapping.client == gateway.value().localAddress) {
                    ours.push_back(mapping);
                }
            }
            inTurn<AwayMappingLedger::Mapping>(
                std::move(ours),
                [weak = self.weak_from_this()](const AwayMappingLedger::Mapping& mapping,
                                               std::function<void()> next) {
                    if (const auto owner = weak.lock()) {
                        owner->unmap(mapping.transport, mapping.port, std::move(next));
                    }
                },
                done);
        }));
}

} // namespace velm
