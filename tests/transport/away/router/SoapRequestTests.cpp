#include "transport/away/router/RouterRequest.h"
#include "transport/away/router/TagScanner.h"

#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

const PortMapperGateway gateway{"192.168.1.1", 5000, "/ctl/IPConn",
                                "urn:schemas-upnp-org:service:WANIPConnection:1", "192.168.1.20"};

TEST(SoapRequestTest, DescriptionRequestAlwaysNamesThePort) {
    EXPECT_EQ(RouterRequest::get("/rootDesc.xml", "192.168.1.1", 80),
              "GET /rootDesc.xml HTTP/1.1\r\nHost: 192.168.1.1:80\r\nConnection: close\r\n\r\n");
}

TEST(SoapRequestTest, ActionRequestCarriesEscapedArgumentsInOrder) {
    const std::string request = RouterRequest::soap(
        "AddPortMapping", {{"NewExternalPort", "4000"}, {"NewPortMappingDescription", "Tom & Jerry <\"x\">"}},
        gateway);
    const std::string body =
        "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
        "<u:AddPortMapping xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
        "<NewExternalPort>4000</NewExternalPort>"
        "<NewPortMappingDescription>Tom &amp; Jerry &lt;\"x\"&gt;</NewPortMappingDescription>"
        "</u:AddPortMapping></s:Body></s:Envelope>\r\n";
    EXPECT_EQ(request, "POST /ctl/IPConn HTTP/1.1\r\nHost: 192.168.1.1:5000\r\n"
                       "Content-Type: text/xml; charset=\"utf-8\"\r\n"
                       "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#AddPortMapping\"\r\n"
                       "Content-Length: " +
                           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

TEST(SoapTagScanTest, ReadsPlainPrefixedAndNestedElements) {
    EXPECT_EQ(TagScanner::tagValue("NewExternalIPAddress",
                                   "<NewExternalIPAddress>\r\n  203.0.113.7 \t</NewExternalIPAddress>"),
              "203.0.113.7");
    EXPECT_EQ(TagScanner::tagValue(
                  "NewExternalIPAddress",
                  "<m:NewExternalIPAddress dt:dt=\"string\" x='1'>1.2.3.4</m:NewExternalIPAddress>"),
              "1.2.3.4");
    // A prefix that is itself the name, and a closing tag with another prefix.
    EXPECT_EQ(TagScanner::tagValue("a", "<a:a>x</b:a>"), "x");
    EXPECT_EQ(TagScanner::tagValue("controlURL", "<controlURL></controlURL>"), "");
}

TEST(SoapTagScanTest, NeedsAnExactlyNamedOpeningAndAClosingTag) {
    for (const char* text : {"<errorcode>1</errorcode>", "<x-y:errorCode>1</errorCode>", "<errorCode>1",
                             "<errorCode/>", "<errorCode attr"}) {
        EXPECT_FALSE(TagScanner::tagValue("errorCode", text)) << text;
    }
    // The first opening tag and the first closing tag after it decide.
    EXPECT_EQ(TagScanner::tagValue("v", "<v>1</v><v>2</v>"), "1");
    EXPECT_EQ(TagScanner::tagValue("v", "<v><v>2</v></v>"), "<v>2");
}

TEST(SoapTagScanTest, HostileInputIsScannedWithoutBlowingUp) {
    // A megabyte-long attribute overflows the stack of a backtracking regex.
    const std::string longAttribute = "<errorCode a=\"" + std::string(1 << 20, 'x') + "\">501</errorCode>";
    EXPECT_EQ(TagScanner::tagValue("errorCode", longAttribute), "501");

    // Many openings that never close would make a naive scan quadratic.
    std::string openings, closings = "<errorCode>";
    for (int i = 0; i < 100000; ++i) {
        openings += "<errorCode ";
        closings += "</errorCod";
    }
    EXPECT_FALSE(TagScanner::tagValue("errorCode", openings));
    EXPECT_FALSE(TagScanner::tagValue("errorCode", closings));
}

} // namespace
} // namespace velm
