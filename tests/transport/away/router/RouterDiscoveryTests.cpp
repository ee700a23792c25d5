#include "tests/support/FakeGateway.h"
#include "transport/away/router/RouterDiscovery.h"
#include "transport/away/router/SsdpSearch.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::FakeGateway;

const std::string ip1 = "urn:schemas-upnp-org:service:WANIPConnection:1";
const std::string ip2 = "urn:schemas-upnp-org:service:WANIPConnection:2";
const std::string ppp1 = "urn:schemas-upnp-org:service:WANPPPConnection:1";

std::string service(const std::string& type, const std::string& controlUrl) {
    return "<service>\r\n  <serviceType>" + type + "</serviceType>\r\n  <controlURL>" + controlUrl +
           "</controlURL>\r\n</service>";
}

std::string description(const std::vector<std::string>& services) {
    std::string text = "<?xml version=\"1.0\"?><root><device><serviceList>";
    for (const auto& block : services) {
        text += block;
    }
    return text + "</serviceList></device></root>";
}

TEST(RouterDiscoveryTest, PrefersIpConnectionsAndTheirNewerVersion) {
    EXPECT_EQ(
        RouterDiscovery::chooseService(description({service(ppp1, "/ppp"), service(ip1, "ctl/IPConn")})),
        (RouterDiscovery::Service{ip1, "/ctl/IPConn"}));
    EXPECT_EQ(RouterDiscovery::chooseService(description({service(ip1, "/one"), service(ip2, "/two")})),
              (RouterDiscovery::Service{ip2, "/two"}));
    EXPECT_FALSE(RouterDiscovery::chooseService(
        description({service("urn:schemas-upnp-org:service:Layer3Forwarding:1", "/l3")})));
    // Blocks are "<service>" exactly: attributes or prefixes hide them.
    EXPECT_FALSE(RouterDiscovery::chooseService("<service xmlns=\"x\"><serviceType>" + ip1 +
                                                "</serviceType><controlURL>/c</controlURL></service>"));
}

TEST(RouterDiscoveryTest, ControlUrlMustBeUsableAndLosesItsHost) {
    // Later blocks of the same type are not tried.
    EXPECT_EQ(RouterDiscovery::chooseService(
                  description({service(ip1, ""), service(ppp1, "/ppp"), service(ip1, "/late")})),
              (RouterDiscovery::Service{ppp1, "/ppp"}));
    // A control URL that would break the request line counts as unusable.
    EXPECT_EQ(RouterDiscovery::chooseService(
                  description({service(ip1, "/ctl IPConn HTTP/1.0\r\nX: y"), service(ppp1, "/ppp")})),
              (RouterDiscovery::Service{ppp1, "/ppp"}));
    EXPECT_FALSE(RouterDiscovery::chooseService(description({service(ip1, "/a\x01")})));
    // A control URL with a host gives only its path; the port mapper test covers one with a path.
    EXPECT_EQ(RouterDiscovery::chooseService(description({service(ip1, "http://192.168.1.1:5000")})),
              (RouterDiscovery::Service{ip1, "/"}));
    // Also when the URL reader refuses its authority.
    for (const std::string url :
         {"http://[fe80::1]:5000/ctl/IPConn?x=1", "http://admin:pw@192.168.1.1:5000/ctl/IPConn",
          "http://192.168.1.1:0/ctl/IPConn#top", "//[::1]/ctl/IPConn"}) {
        EXPECT_EQ(RouterDiscovery::chooseService(description({service(ip1, url)})),
                  (RouterDiscovery::Service{ip1, "/ctl/IPConn"}))
            << url;
    }
    EXPECT_EQ(RouterDiscovery::chooseService(description({service(ip1, "http://[fe80::1]:5000")})),
              (RouterDiscovery::Service{ip1, "/"}));
    // A relative path with doubled slashes stays a path.
    EXPECT_EQ(RouterDiscovery::chooseService(description({service(ip1, "/ctl//a://b")})),
              (RouterDiscovery::Service{ip1, "/ctl//a://b"}));
}

TEST(RouterDiscoveryTest, DescriptionUrlDefaultsPortAndPath) {
    const auto bare = RouterDiscovery::descriptionUrl("http://192.168.1.1");
    ASSERT_TRUE(bare.ok());
    EXPECT_EQ(bare.value().port, 80);
    EXPECT_EQ(bare.value().path, "/");

    for (const char* location : {"", "https://192.168.1.1/d.xml", "http://192.168.1.1/d xml",
                                 "http://router.lan/rootDesc.xml", "http://192.168.1/rootDesc.xml"}) {
        EXPECT_EQ(RouterDiscovery::descriptionUrl(location).failure(), PortMapperFailure::badResponse())
            << location;
    }
}

TEST(RouterDiscoveryTest, LocalAddressNeedsADottedRouterAddress) {
    EXPECT_EQ(RouterDiscovery::localAddress("127.0.0.1"), "127.0.0.1");
    for (const char* address : {"router.lan", "1..2.3.4", "127.0.0.1 ", "::1", ""}) {
        EXPECT_FALSE(RouterDiscovery::localAddress(address)) << address;
    }
}

TEST(RouterDiscoveryTest, GatewayNeedsAGoodDescriptionAndARoute) {
    // The port mapper test against the fake gateway covers the good case.
    const auto location = RouterDiscovery::descriptionUrl("http://127.0.0.1:5000/rootDesc.xml").value();
    const HttpResponse good{200, toBytes(description({service(ip1, "/ctl/IPConn")}))};
    EXPECT_FALSE(RouterDiscovery::gateway(location, {404, good.body}).ok());
    EXPECT_FALSE(RouterDiscovery::gateway(location, {200, toBytes("<root/>")}).ok());
    const HttpUrl named{"http", "router.lan", 80, "/rootDesc.xml"};
    EXPECT_EQ(RouterDiscovery::gateway(named, good).failure(), PortMapperFailure::badResponse());
}

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

    for (const char* answer : {"HTTP/1.1 200 OK\r\nST: upnp:rootdevice\r\nLOCATION: http://a/\r\n\r\n",
                               "HTTP/1.1 200 OK\r\nST: InternetGatewayDevice:1\r\n\r\n",
                               "ST: InternetGatewayDevice\r\nX-LOCATION: http://a/\r\n"}) {
        EXPECT_FALSE(SsdpSearch::location(answer)) << answer;
    }
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
