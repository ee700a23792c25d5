#include "transport/away/HttpUrl.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(HttpUrlTest, ReadsHostPortAndPathAndDropsQueryAndFragment) {
    const auto url = HttpUrl::parse("HTTP://192.168.1.1:5000/rootDesc.xml?x=1#top");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "http");
    EXPECT_EQ(url->host, "192.168.1.1");
    EXPECT_EQ(url->port, 5000);
    EXPECT_EQ(url->path, "/rootDesc.xml");

    const auto bare = HttpUrl::parse("http://router.lan");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->host, "router.lan");
    EXPECT_FALSE(bare->port);
    EXPECT_EQ(bare->path, "");

    const auto emptyPort = HttpUrl::parse("http://10.0.0.1:/d.xml");
    ASSERT_TRUE(emptyPort);
    EXPECT_FALSE(emptyPort->port);

    const auto schemeRelative = HttpUrl::parse("//10.0.0.1:80/ctl");
    ASSERT_TRUE(schemeRelative);
    EXPECT_EQ(schemeRelative->path, "/ctl");
}

TEST(HttpUrlTest, RefusesWhatCouldBreakARequestLineOrHostHeader) {
    for (const char* text : {
             "http://10.0.0.1/a b",            // space in the path
             "http://10.0.0.1/a\r\nX-Evil: 1", // header injection
             "http://10.0.0.1/a\tb",           // control character
             "http://10.0.0.1/caf\xC3\xA9",    // bytes outside ASCII
             "http://10.0.0.1/a?b c",          // space in the query
             "http://bad host/",               // space in the host
             "http://user@10.0.0.1/",          // user information
             "http://[fe80::1]:80/",           // bracketed IPv6
             "http://:80/",                    // no host
             "http://10.0.0.1:65536/",         // port beyond 16 bits
             "http://10.0.0.1:0/",             // port zero
             "http://10.0.0.1:8o/",            // port with a letter
             "10.0.0.1/rootDesc.xml",          // no scheme
             "1http://10.0.0.1/",              // scheme not starting with a letter
         }) {
        EXPECT_FALSE(HttpUrl::parse(text)) << text;
    }
}

TEST(HttpUrlTest, SafeTargetsArePrintableAsciiWithoutSpaces) {
    EXPECT_TRUE(HttpUrl::isSafeTarget("/ctl/IPConn?a=1&b=%20"));
    EXPECT_FALSE(HttpUrl::isSafeTarget("/ctl IPConn"));
    EXPECT_FALSE(HttpUrl::isSafeTarget("/ctl\x7F"));
    EXPECT_FALSE(HttpUrl::isSafeTarget(std::string_view("/ctl\0x", 6)));
}

} // namespace
} // namespace velm
