#include "tests/support/FakeGateway.h"
#include "transport/away/router/SsdpSearch.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::FakeGateway;

SsdpSearch unicastTo(const FakeGateway& gateway) {
    return SsdpSearch({"127.0.0.1", gateway.ssdpPort(), 50ms});
}

TEST(SsdpSearchTest, SearchDatagramIsTheExactText) {
    for (const auto target : SsdpSearch::searchTargets) {
        const std::string datagram = SsdpSearch::request(target);
        EXPECT_EQ(datagram, "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
                            "MX: 1\r\nST: " +
                                std::string(target) + "\r\n\r\n");
    }
}

TEST(SsdpSearchTest, LocationComesFromAnAnswerNamingAGatewayDevice) {
    EXPECT_EQ(
        SsdpSearch::location("HTTP/1.1 200 OK\r\nST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                             "LoCaTiOn:   http://192.168.1.1:5000/rootDesc.xml \r\n\r\n"),
        "http://192.168.1.1:5000/rootDesc.xml");
    EXPECT_EQ(
        SsdpSearch::location("HTTP/1.1 200 OK\r\nSERVER: internetgatewaydevice\r\nLOCATION:\thttp://a/\t"),
        "http://a/");
    // Only the first LOCATION line counts.
    EXPECT_EQ(
        SsdpSearch::location("ST: InternetGatewayDevice\r\nLOCATION: http://a/\r\nLOCATION: http://b/\r\n"),
        "http://a/");

    EXPECT_FALSE(
        SsdpSearch::location("HTTP/1.1 200 OK\r\nST: upnp:rootdevice\r\nLOCATION: http://a/\r\n\r\n"));
    EXPECT_FALSE(SsdpSearch::location("HTTP/1.1 200 OK\r\nST: InternetGatewayDevice:1\r\n\r\n"));
    EXPECT_FALSE(SsdpSearch::location("ST: InternetGatewayDevice\r\nX-LOCATION: http://a/\r\n"));
}

TEST(SsdpSearchTest, FindsTheResponderAndSkipsAnswersFromOtherDevices) {
    FakeGateway gateway;
    gateway.setSsdpAnswers({
        "HTTP/1.1 200 OK\r\nST: urn:schemas-upnp-org:device:MediaRenderer:1\r\nLOCATION: "
        "http://127.0.0.1:1/tv\r\n\r\n",
        "HTTP/1.1 200 OK\r\nST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n\r\n",
        gateway.defaultSsdpAnswer(),
    });
    EXPECT_EQ(unicastTo(gateway).run(10s), gateway.location());
    EXPECT_GE(gateway.searchesReceived(), 1);
}

TEST(SsdpSearchTest, NoAnswerWithinTheLimitGivesNothing) {
    FakeGateway gateway;
    gateway.setSsdpAnswers({});
    EXPECT_FALSE(unicastTo(gateway).run(200ms));
    // Both search targets were asked for.
    EXPECT_EQ(gateway.searchesReceived(), 2);

    EXPECT_FALSE(unicastTo(gateway).run(0s));
    EXPECT_FALSE(SsdpSearch({"not an address", 1900, 50ms}).run(1s));
}

} // namespace
} // namespace velm
