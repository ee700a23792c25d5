// The router mappings away access remembers in the settings, to remove them after a crash: whatever
// the file holds, what reads is a bounded list that is stored and read back unchanged.
#include "Velm_Host/away/AwayMappingLedger.h"
#include "fuzz/Target.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    const std::vector<AwayMappingLedger::Mapping> mappings = {
        {PortMapper::Transport::udp, 40123, "192.168.1.1:5000/ctl/IPConn", "192.168.1.20"},
        {PortMapper::Transport::tcp, 443, "[fe80::1]:49152/upnp/control/WANIPConn1", "fe80::20"}};
    const std::string stored = AwayMappingLedger::storedForm(mappings).dump();
    std::string wide = stored;
    wide.replace(wide.find("40123"), 5, "4294967297");
    return {toBytes(stored), toBytes(wide)};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const auto stored = nlohmann::json::parse(data, data + size, nullptr, false);
    if (stored.is_discarded()) {
        return;
    }
    const auto mappings = AwayMappingLedger::read(stored);
    if (mappings.size() > AwayMappingLedger::maxMappings ||
        AwayMappingLedger::read(AwayMappingLedger::storedForm(mappings)) != mappings) {
        std::abort();
    }
}

} // namespace velm::fuzz
