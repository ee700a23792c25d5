#include "Velm_Host/away/AwayMappingLedger.h"
#include "platform/store/DefaultsStore.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace velm {
namespace {

using Mapping = AwayMappingLedger::Mapping;
using Mappings = std::vector<Mapping>;
using Transport = PortMapper::Transport;

class AwayMappingLedgerTest : public ::testing::Test {
protected:
    // The ledger as the next start reads it.
    Mappings remembered() const {
        return AwayMappingLedger(std::make_shared<DefaultsStore>(folder.path())).mappings();
    }

    test::TemporaryFolder folder;
    std::shared_ptr<DefaultsStore> settings = std::make_shared<DefaultsStore>(folder.path());
};

TEST_F(AwayMappingLedgerTest, RemembersEachMappingUntilItIsRemovedAndOnlyTheNewest) {
    AwayMappingLedger ledger(settings);
    ledger.add({Transport::udp, 23456, "192.168.1.1:5000/ctl", "192.168.1.20"});
    ledger.add({Transport::tcp, 40001, "192.168.1.1:5000/ctl", "192.168.1.20"});
    ledger.add({Transport::tcp, 40001, "10.0.0.1:80/ctl", "10.0.0.2"});
    ledger.add({Transport::tcp, 40001, "10.0.0.1:80/ctl", "10.0.0.3"});
    ledger.remove(Transport::udp, 23456, "192.168.1.1:5000/ctl");
    EXPECT_EQ(remembered(), (Mappings{{Transport::tcp, 40001, "192.168.1.1:5000/ctl", "192.168.1.20"},
                                      {Transport::tcp, 40001, "10.0.0.1:80/ctl", "10.0.0.3"}}));
    ledger.remove(Transport::tcp, 40001, "192.168.1.1:5000/ctl");
    EXPECT_EQ(remembered(), (Mappings{{Transport::tcp, 40001, "10.0.0.1:80/ctl", "10.0.0.3"}}));

    for (std::uint16_t port = 1; port <= AwayMappingLedger::maxMappings; ++port) {
        ledger.add({Transport::udp, port, "r", "c"});
    }
    EXPECT_EQ(remembered().size(), AwayMappingLedger::maxMappings);
    EXPECT_EQ(remembered().front().port, 1);
}

// A record that could not be read at start (no descriptors left) is not written over by the mappings made
// meanwhile: both are remembered once the settings can be read, or a mapping of the last run stays on the
// router for good.
TEST_F(AwayMappingLedgerTest, KeepsTheRecordsItCouldNotReadAtStart) {
    AwayMappingLedger(settings).add({Transport::udp, 23456, "r", "c"});
    std::optional<AwayMappingLedger> ledger;
    {
        const auto fault = test::SystemCallFaults::failOpening("defaults.json", EMFILE);
        settings = std::make_shared<DefaultsStore>(folder.path());
        ledger.emplace(settings);
        ledger->add({Transport::tcp, 40001, "r", "c"});
    }
    EXPECT_EQ(remembered(), (Mappings{{Transport::udp, 23456, "r", "c"}}));
    ledger->add({Transport::tcp, 40002, "r", "c"});
    EXPECT_EQ(remembered(), (Mappings{{Transport::udp, 23456, "r", "c"},
                                      {Transport::tcp, 40001, "r", "c"},
                                      {Transport::tcp, 40002, "r", "c"}}));
}

// The router's control path is its own to choose, of any length: a mapping made there is still read back
// at the next start, so that what a crash left is removed, and the settings stay small.
TEST_F(AwayMappingLedgerTest, AMappingOnARouterWithALongControlPathIsReadBackAtTheNextStart) {
    const PortMapperGateway shortPath{"192.168.1.1", 5000, "/ctl", "urn:wan", "192.168.1.20"};
    EXPECT_EQ(AwayMappingLedger::routerOf(shortPath), "192.168.1.1:5000/ctl");

    PortMapperGateway longPath = shortPath;
    longPath.controlPath = "/" + std::string(100'000, 'c');
    PortMapperGateway otherLongPath = longPath;
    otherLongPath.controlPath.back() = 'd';
    const std::string router = AwayMappingLedger::routerOf(longPath);
    EXPECT_LE(router.size(), AwayMappingLedger::maxTextBytes);
    EXPECT_EQ(AwayMappingLedger::routerOf(longPath), router);
    EXPECT_NE(AwayMappingLedger::routerOf(otherLongPath), router);

    AwayMappingLedger(settings).add({Transport::udp, 23456, router, "192.168.1.20"});
    EXPECT_EQ(remembered(), (Mappings{{Transport::udp, 23456, router, "192.168.1.20"}}));
}

TEST_F(AwayMappingLedgerTest, ReadsOnlyWellFormedRecords) {
    const auto record = [](nlohmann::json protocol, nlohmann::json port, std::string router = "r") {
        return nlohmann::json{{"protocol", protocol}, {"port", port}, {"router", router}, {"client", "c"}};
    };
    ASSERT_TRUE(
        settings->setJson(AwayMappingLedger::settingsKey,
                          {record("UDP", 20000),
                           record("SCTP", 20001),
                           record("UDP", 0),
                           record("UDP", 65536 + 20002),
                           record("UDP", -1),
                           record("UDP", 20003.5),
                           record("UDP", 20004, std::string(AwayMappingLedger::maxTextBytes + 1, 'x')),
                           {{"protocol", "TCP"}, {"port", 20005}},
                           "UDP 20006",
                           record("TCP", 20007)}));
    EXPECT_EQ(remembered(), (Mappings{{Transport::udp, 20000, "r", "c"}, {Transport::tcp, 20007, "r", "c"}}));

    ASSERT_TRUE(settings->setJson(AwayMappingLedger::settingsKey, {{"protocol", "UDP"}}));
    EXPECT_TRUE(remembered().empty());
}

} // namespace
} // namespace velm
