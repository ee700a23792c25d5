#include "Velm_Host/away/AwayRouter.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/store/DefaultsStore.h"
#include "tests/support/ScriptedRouter.h"
#include "tests/support/TemporaryFolder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::ScriptedRouter;
using Mapping = AwayMappingLedger::Mapping;
using Mappings = std::vector<Mapping>;
using Transport = AwayRouter::Transport;

// The router mappings of away access and their record in the settings, over the starts of the program.
class AwayRouterTest : public ::testing::Test {
protected:
    // A start of the program, on whichever router the scripted search finds first.
    std::shared_ptr<AwayRouter> start() {
        return AwayRouter::make(queue, client, {}, std::make_shared<DefaultsStore>(folder.path()));
    }

    // The record as the next start reads it.
    Mappings remembered() const {
        const auto stored = DefaultsStore(folder.path()).jsonValue(AwayMappingLedger::settingsKey);
        return stored ? AwayMappingLedger::read(*stored) : Mappings{};
    }

    std::size_t sent(const std::string& action) const {
        std::size_t count = 0;
        for (const auto& exchange : client->exchanges) {
            count += exchange.action() == action ? 1 : 0;
        }
        return count;
    }

    test::TemporaryFolder folder;
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.host.away");
    std::shared_ptr<ScriptedRouter> client = std::make_shared<ScriptedRouter>();
    // The router of the home network before the one the scripted search finds unless told otherwise.
    const PortMapperGateway earlier{"192.168.1.1", 5000, "/ctl/IPConn",
                                    "urn:schemas-upnp-org:service:WANIPConnection:1", "192.168.1.20"};
    const Mapping onEarlier{Transport::udp, 30000, "192.168.1.1:5000/ctl/IPConn", "192.168.1.20"};
    const Mapping onStandard{Transport::udp, 30000, "192.0.2.1:5000/ctl/IPConn", "192.0.2.20"};
};

// A mapping of one port on two routers (a second router, or one replaced) is two mappings: each is
// removed from the router that holds it, and the record of the other stays until its own router lets
// it go.
TEST_F(AwayRouterTest, TheSamePortMappedOnAnotherRouterKeepsTheFirstRoutersRecord) {
    // As a run on the earlier router left it.
    ASSERT_TRUE(DefaultsStore(folder.path())
                    .setJson(AwayMappingLedger::settingsKey,
                             nlohmann::json::array({{{"protocol", "UDP"},
                                                     {"port", 30000},
                                                     {"router", "192.168.1.1:5000/ctl/IPConn"},
                                                     {"client", "192.168.1.20"}}})));
    auto router = start();
    bool mapped = false;
    router->map(Transport::udp, 30000, 30000, 1500s,
                [&](const AwayRouter::Result<std::monostate>& result) { mapped = result.ok(); });
    queue->runUntilIdle();
    ASSERT_TRUE(mapped);
    EXPECT_EQ(remembered(), (Mappings{onEarlier, onStandard}));

    router->unmap(Transport::udp, 30000);
    queue->runUntilIdle();
    EXPECT_EQ(remembered(), (Mappings{onEarlier}));

    // The next start finds the earlier router back and removes what was left there.
    router.reset();
    queue->runUntilIdle();
    client->scriptSearch(earlier);
    router = start();
    bool done = false;
    router->removeLeftovers([&] { done = true; });
    queue->runUntilIdle();
    ASSERT_TRUE(done);
    ASSERT_EQ(sent("DeletePortMapping"), 2u);
    EXPECT_EQ(client->exchanges.back().host, "192.168.1.1");
    EXPECT_EQ(client->exchanges.back().argument("NewExternalPort"), "30000");
    EXPECT_TRUE(remembered().empty());
}

// A computer given a new address on the same router finds the mappings it made for its former one at the
// next start: each is removed where the router still forwards it there for us, for that address may be a
// stranger's now, and forgotten where the router holds none or someone else's.
TEST_F(AwayRouterTest, MappingsForAFormerAddressOnTheSameRouterAreRemovedOnlyWhereStillOurs) {
    const std::string former = earlier.localAddress;
    const std::string router = onEarlier.router;
    const Mapping unaskable{Transport::udp, 30003, router, former};
    const Mapping elsewhere{Transport::udp, 30000, "192.168.1.1:80/ctl/IPConn", former};
    nlohmann::json stored = AwayMappingLedger::storedForm({{Transport::udp, 30000, router, former},
                                                           {Transport::tcp, 30001, router, former},
                                                           {Transport::udp, 30002, router, former},
                                                           unaskable,
                                                           elsewhere});
    ASSERT_TRUE(DefaultsStore(folder.path()).setJson(AwayMappingLedger::settingsKey, stored));
    PortMapperGateway renumbered = earlier;
    renumbered.localAddress = "192.168.1.33";
    client->scriptSearch(renumbered);
    const auto entry = [](const std::string& internal) {
        return ScriptedRouter::success("GetSpecificPortMappingEntry",
                                       "<NewInternalClient>" + internal +
                                           "</NewInternalClient><NewPortMappingDescription>Velm"
                                           "</NewPortMappingDescription>");
    };
    client->script("GetSpecificPortMappingEntry", entry(former));
    client->script("GetSpecificPortMappingEntry", entry("192.168.1.40"));
    client->script("GetSpecificPortMappingEntry", ScriptedRouter::fault("714"));
    client->script("GetSpecificPortMappingEntry", ScriptedRouter::fault("", 500));

    auto away = start();
    bool done = false;
    away->removeLeftovers([&] { done = true; });
    queue->runUntilIdle();
    ASSERT_TRUE(done);
    EXPECT_EQ(sent("GetSpecificPortMappingEntry"), 4u);
    ASSERT_EQ(sent("DeletePortMapping"), 1u);
    const auto removal =
        std::find_if(client->exchanges.begin(), client->exchanges.end(),
                     [](const auto& exchange) { return exchange.action() == "DeletePortMapping"; });
    EXPECT_EQ(removal->host, "192.168.1.1");
    EXPECT_EQ(removal->argument("NewExternalPort"), "30000");
    EXPECT_EQ(removal->argument("NewProtocol"), "UDP");
    EXPECT_EQ(remembered(), (Mappings{unaskable, elsewhere}));
}

// When the router has the port taken, a random port is asked for in its place: recorded before it is
// asked for, as the first was, and the refused port's record taken back, for that mapping is
// someone else's.
TEST_F(AwayRouterTest, ARandomPortInPlaceOfATakenOneIsRecordedBeforeItIsAskedFor) {
    auto router = start();
    client->script("AddPortMapping", ScriptedRouter::fault("718"));
    client->hold();
    std::optional<AwayRouter::Result<std::uint16_t>> mapped;
    router->map(Transport::tcp, 40000, 900s,
                [&](AwayRouter::Result<std::uint16_t> result) { mapped = result; });
    queue->runUntilIdle();
    client->answerHeld();
    queue->runUntilIdle();
    ASSERT_EQ(sent("AddPortMapping"), 2u);
    const auto random =
        static_cast<std::uint16_t>(std::stoi(client->exchanges.back().argument("NewExternalPort")));
    const Mappings recorded{{Transport::tcp, random, onStandard.router, onStandard.client}};
    // As a crash now would leave it.
    EXPECT_EQ(remembered(), recorded);

    client->release();
    queue->runUntilIdle();
    ASSERT_TRUE(mapped && mapped->ok());
    EXPECT_EQ(mapped->value(), random);
    EXPECT_EQ(remembered(), recorded);
}

} // namespace
} // namespace velm
