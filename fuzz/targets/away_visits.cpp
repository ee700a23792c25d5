// The away visits kept in the settings: whatever the file holds, what reads is bounded, closed, and
// stored and read back unchanged.
#include "Velm_Host/away/StoredAwayVisits.h"
#include "fuzz/Target.h"

#include <cstdlib>

namespace velm::fuzz {
namespace {

constexpr StoredAwayVisits stored{.maxVisits = 20, .maxTextBytes = 256};

} // namespace

std::vector<Bytes> seeds() {
    const std::vector<AwayVisit> visits = {
        {Uuid::random(), "DEVICE-1", "Studio iPad", "203.0.113.9", Date(788918400), Date(788918500)},
        {Uuid::random(), "DEVICE-2", "Phone", std::nullopt, Date(788918600), std::nullopt}};
    const std::string text = StoredAwayVisits::form(visits)->dump();
    return {toBytes(text), toBytes(text.substr(0, text.size() / 2))};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const auto value = nlohmann::json::parse(data, data + size, nullptr, false);
    if (value.is_discarded()) {
        return;
    }
    const auto visits = stored.read(value);
    if (!visits) {
        return;
    }
    for (const AwayVisit& visit : *visits) {
        if (visit.isOpen() || visit.deviceName.size() > stored.maxTextBytes) {
            std::abort();
        }
    }
    const auto again = StoredAwayVisits::form(*visits);
    if (visits->size() > stored.maxVisits || !again || stored.read(*again) != visits) {
        std::abort();
    }
}

} // namespace velm::fuzz
