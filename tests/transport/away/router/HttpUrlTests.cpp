#include "transport/away/router/HttpUrl.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

// "scheme host port path" of a URL, "-" for no port.
std::string parts(std::string_view text) {
    const std::optional<HttpUrl> url = HttpUrl::parse(text);
    return url ? url->scheme + " " + url->host + " " + (url->port ? std::to_string(*url->port) : "-") + " " +
                     url->path
               : "refused";
}

TEST(HttpUrlTest, ReadsHostPortAndPathAndDropsQueryAndFragment) {
    EXPECT_EQ(parts("HTTP://192.168.1.1:5000/rootDesc.xml?x=1#top"), "http 192.168.1.1 5000 /rootDesc.xml");
    EXPECT_EQ(parts("http://router.lan"), "http router.lan - ");
    EXPECT_EQ(parts("http://10.0.0.1:/d.xml"), "http 10.0.0.1 - /d.xml");
    EXPECT_EQ(parts("//10.0.0.1:80/ctl"), " 10.0.0.1 80 /ctl");
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
        EXPECT_EQ(parts(text), "refused") << text;
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
