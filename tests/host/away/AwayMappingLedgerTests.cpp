#include "Velm_Host/away/AwayMappingLedger.h"
#include "platform/store/DefaultsStore.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace velm {
namespace {

using Mapping = AwayMappingLedger::Mapping;
using Transport = PortMapper::Transport;

class AwayMappingLedgerTest : public ::testing::Test {
protected:
    std::shared_ptr<DefaultsStore> reopened() const { return std::make_shared<DefaultsStore>(folder.path()); }

    test::TemporaryFolder folder;
    std::shared_ptr<DefaultsStore> settings = reopened();
    const Mapping door{Transport::udp, 23456, "192.168.1.1:5000/ctl/IPConn", "192.168.1.20"};
    const Mapping control{Transport::tcp, 40001, "192.168.1.1:5000/ctl/IPConn", "192.168.1.20"};
};

TEST_F(AwayMappingLedgerTest, KeepsWhatIsMappedUntilItIsRemovedAcrossRestarts) {
    {
        AwayMappingLedger ledger(settings);
        ledger.add(door);
        ledger.add(control);
        // The same transport and port again replaces the earlier record.
        ledger.add({Transport::tcp, 40001, "10.0.0.1:80/ctl", "10.0.0.2"});
        ledger.remove(Transport::udp, 23456);
    }
    const AwayMappingLedger restarted(reopened());
    EXPECT_EQ(restarted.mappings(),
              (std::vector<Mapping>{{Transport::tcp, 40001, "10.0.0.1:80/ctl", "10.0.0.2"}}));
}

TEST_F(AwayMappingLedgerTest, KeepsOnlyTheNewestAndReadsOnlyWellFormedRecords) {
    {
        AwayMappingLedger ledger(settings);
        for (std::uint16_t port = 1; port <= AwayMappingLedger::maxMappings + 2; ++port) {
            ledger.add({Transport::udp, port, "r", "c"});
        }
        ASSERT_EQ(ledger.mappings().size(), AwayMappingLedger::maxMappings);
        EXPECT_EQ(ledger.mappings().front().port, 3);
    }

    const std::string longText(AwayMappingLedger::maxTextBytes + 1, 'x');
    ASSERT_TRUE(settings->setJson(
        AwayMappingLedger::settingsKey,
        {
            {{"protocol", "UDP"}, {"port", 20000}, {"router", "r"}, {"client", "c"}},
            {{"protocol", "SCTP"}, {"port", 20001}, {"router", "r"}, {"client", "c"}},
            {{"protocol", "UDP"}, {"port", 0}, {"router", "r"}, {"client", "c"}},
            {{"protocol", "UDP"}, {"port", 65536 + 20002}, {"router", "r"}, {"client", "c"}},
            {{"protocol", "UDP"}, {"port", -1}, {"router", "r"}, {"client", "c"}},
            {{"protocol", "UDP"}, {"port", 20003.5}, {"router", "r"}, {"client", "c"}},
            {{"protocol", "UDP"}, {"port", 20004}, {"router", longText}, {"client", "c"}},
            {{"protocol", "TCP"}, {"port", 20005}, {"router", "r"}},
            "UDP 20006",
            {{"protocol", "TCP"}, {"port", 20007}, {"router", "r"}, {"client", "c"}},
        }));
    EXPECT_EQ(AwayMappingLedger(reopened()).mappings(),
              (std::vector<Mapping>{{Transport::udp, 20000, "r", "c"}, {Transport::tcp, 20007, "r", "c"}}));

    ASSERT_TRUE(settings->setJson(AwayMappingLedger::settingsKey, {{"protocol", "UDP"}}));
    EXPECT_TRUE(AwayMappingLedger(reopened()).mappings().empty());
}

} // namespace
} // namespace velm
