#include "Velm_Host/away/AwayMappingLedger.h"

#include "platform/core/Base64.h"
#include "platform/crypto/Sha256.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <optional>

namespace velm {
namespace {

constexpr Log awayMappingLedgerLog("away");

std::optional<std::string> boundedString(const nlohmann::json& value) {
    if (!value.is_string() || value.get_ref<const std::string&>().size() > AwayMappingLedger::maxTextBytes) {
        return std::nullopt;
    }
    return value.get<std::string>();
}

std::optional<AwayMappingLedger::Mapping> readMapping(const nlohmann::json& entry) {
    if (!entry.is_object()) {
        return std::nullopt;
    }
    const auto protocol = entry.find("protocol");
    const auto port = entry.find("port");
    const auto router = entry.find("router");
    const auto client = entry.find("client");
    if (protocol == entry.end() || port == entry.end() || router == entry.end() || client == entry.end() ||
        !protocol->is_string() || !port->is_number_integer()) {
        return std::nullopt;
    }
    const auto transport = PortMapper::transportFrom(protocol->get_ref<const std::string&>());
    // Read as the widest integer first: a narrower read would wrap a hostile value into range.
    const std::int64_t number = port->get<std::int64_t>();
    auto routerText = boundedString(*router);
    auto clientText = boundedString(*client);
    if (!transport || number < 1 || number > 65535 || !routerText || !clientText) {
        return std::nullopt;
    }
    return AwayMappingLedger::Mapping{*transport, static_cast<std::uint16_t>(number), std::move(*routerText),
                                      std::move(*clientText)};
}

} // namespace

bool AwayMappingLedger::Mapping::isSameAs(const Mapping& other) const {
    return transport == other.transport && port == other.port && router == other.router;
}

AwayMappingLedger::AwayMappingLedger(std::shared_ptr<DefaultsStore> settings)
    : settings_(std::move(settings)) {
    takeInStored();
}

// The remembered mappings go before those made while the settings file could not be read, unless one of
// those took their transport and port on their router since.
void AwayMappingLedger::takeInStored() {
    if (storedInHand_ || !settings_->hasRead()) {
        return;
    }
    std::vector<Mapping> kept;
    if (const auto stored = settings_->jsonValue(settingsKey)) {
        kept = read(*stored);
    }
    std::erase_if(kept, [&](const Mapping& old) {
        return std::any_of(mappings_.begin(), mappings_.end(),
                           [&](const Mapping& made) { return made.isSameAs(old); });
    });
    kept.insert(kept.end(), mappings_.begin(), mappings_.end());
    if (kept.size() > maxMappings) {
        kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(maxMappings));
    }
    mappings_ = std::move(kept);
    storedInHand_ = true;
}

std::vector<AwayMappingLedger::Mapping> AwayMappingLedger::read(const nlohmann::json& stored) {
    std::vector<Mapping> mappings;
    if (!stored.is_array()) {
        return mappings;
    }
    for (const auto& entry : stored) {
        if (mappings.size() == maxMappings) {
            break;
        }
        if (auto mapping = readMapping(entry)) {
            mappings.push_back(std::move(*mapping));
        }
    }
    return mappings;
}

nlohmann::json AwayMappingLedger::storedForm(const std::vector<Mapping>& mappings) {
    nlohmann::json list = nlohmann::json::array();
    for (const Mapping& mapping : mappings) {
        list.push_back({{"protocol", std::string(PortMapper::rawValue(mapping.transport))},
                        {"port", mapping.port},
                        {"router", mapping.router},
                        {"client", mapping.client}});
    }
    return list;
}

bool AwayMappingLedger::add(Mapping mapping) {
    const auto same = std::find_if(mappings_.begin(), mappings_.end(),
                                   [&](const Mapping& kept) { return kept.isSameAs(mapping); });
    const bool isNew = same == mappings_.end();
    if (!isNew) {
        if (*same == mapping) {
            return false;
        }
        mappings_.erase(same);
    }
    if (mappings_.size() == maxMappings) {
        mappings_.erase(mappings_.begin());
    }
    mappings_.push_back(std::move(mapping));
    save();
    return isNew;
}

void AwayMappingLedger::remove(PortMapper::Transport transport, std::uint16_t port, std::string_view router) {
    const auto removed = std::erase_if(mappings_, [&](const Mapping& kept) {
        return kept.transport == transport && kept.port == port && kept.router == router;
    });
    if (removed > 0) {
        save();
    }
}

// The router chooses its control path, of any length; a name longer than a record may hold is named by
// its digest, so that the record reads back at the next start and the settings stay small.
std::string AwayMappingLedger::routerOf(const PortMapperGateway& gateway) {
    std::string router = gateway.host + ":" + std::to_string(gateway.port) + gateway.controlPath;
    if (router.size() <= maxTextBytes) {
        return router;
    }
    return "sha256:" + Base64::encode(Sha256::digest({toBytes(router)}));
}

void AwayMappingLedger::save() {
    takeInStored();
    if (!storedInHand_) {
        awayMappingLedgerLog.error(
            "the router mappings could not be remembered: the settings cannot be read yet");
        return;
    }
    if (!settings_->setJson(settingsKey, storedForm(mappings_))) {
        awayMappingLedgerLog.error("the router mappings could not be remembered");
    }
}

} // namespace velm
