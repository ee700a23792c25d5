#pragma once

#include "platform/store/DefaultsStore.h"
#include "transport/away/router/PortMapper.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// The router mappings away access has made and not yet removed, kept in the settings. Mappings
// left behind by a crash, or by a quit that ran out of time, are then removed at the next start;
// otherwise the router would go on forwarding ports into a computer that no longer listens there.
//
// Each mapping remembers the router it was made on and our address towards it, so that a computer
// that starts on another network leaves that network's router (and whoever uses the same port
// there) alone. A mapping is one port and transport on one router: the same port mapped on two
// routers is two mappings, each removed from its own. The stored list is read as hostile input:
// what does not read is dropped.
//
// Not thread-safe; its owner calls it from one serial queue.
class AwayMappingLedger {
public:
    struct Mapping {
        PortMapper::Transport transport = PortMapper::Transport::udp;
        // The external port.
        std::uint16_t port = 0;
        // Where the router's control service was: address, port and path.
        std::string router;
        // Our own address towards the router, which the mapping forwards to.
        std::string client;

        bool operator==(const Mapping&) const = default;
        // Whether both name the same mapping on the router, whatever it forwards to.
        bool isSameAs(const Mapping& other) const;
    };

    static constexpr std::string_view settingsKey = "awayRouterMappings";
    // Far more than away access keeps at once; the oldest go first beyond it.
    static constexpr std::size_t maxMappings = 64;
    static constexpr std::size_t maxTextBytes = 256;

    // Reads the remembered mappings.
    explicit AwayMappingLedger(std::shared_ptr<DefaultsStore> settings);

    const std::vector<Mapping>& mappings() const { return mappings_; }

    // Remembers a mapping, in place of one with the same transport and port on the same router;
    // true when there was none.
    bool add(Mapping mapping);
    void remove(PortMapper::Transport transport, std::uint16_t port, std::string_view router);

    // The list as the settings keep it; what does not read is left out.
    static std::vector<Mapping> read(const nlohmann::json& stored);
    static nlohmann::json storedForm(const std::vector<Mapping>& mappings);

    // How a mapping names the router it was made on: by its control service, or by that name's
    // digest when it is longer than a record holds.
    static std::string routerOf(const PortMapperGateway& gateway);

private:
    void takeInStored();
    void save();

    const std::shared_ptr<DefaultsStore> settings_;
    std::vector<Mapping> mappings_;
    // False while the settings file could not be read: the remembered mappings are not in the list yet,
    // and saving the list would write over them.
    bool storedInHand_ = false;
};

} // namespace velm
