#include "transport/away/router/HttpResponse.h"
#include "transport/away/router/HttpUrl.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace velm {
namespace {

const std::string lengthHead = "HTTP/1.1 200 OK\r\nServer: x\r\nCONTENT-LENGTH:\t5 \r\n\r\n";
const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::string chunkedBody = "5;name=value\r\nhello\r\n0\r\n\r\n";

bool complete(const std::string& text) {
    return HttpResponse::isComplete(toBytes(text));
}

TEST(HttpResponseTest, ReplyIsCompleteOnceItsFramingSaysSo) {
    const std::pair<std::string, bool> cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", false},
        {lengthHead + "abcd", false},
        {lengthHead + "abcde", true},
        {chunkedHead + chunkedBody, true},
        // The first chunk's data ends in "0\r\n\r\n", and only part of it arrived.
        {chunkedHead + "10\r\nabcdefghijk0\r\n\r\n", false},
        {chunkedHead + "10\r\nabcdefghijk0\r\n\r\n\r\n0\r\n\r\n", true},
        // Trailers after the last chunk end with an empty line.
        {chunkedHead + "1\r\na\r\n0\r\nExpires: never\r\n", false},
        {chunkedHead + "1\r\na\r\n0\r\nExpires: never\r\n\r\n", true},
        // A body that can no longer be valid chunking is not waited on.
        {chunkedHead + "zz\r\n", true},
        // Without framing the reply ends only when the peer closes.
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\nabcde", false},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(complete(text), expected) << text;
    }
    for (std::size_t cut = 0; cut < chunkedBody.size(); ++cut) {
        EXPECT_FALSE(complete(chunkedHead + chunkedBody.substr(0, cut))) << cut;
    }
    // A negative, signed, overflowing or missing length never counts as complete.
    for (const char* length : {"-1", "+5", "99999999999999999999999", "5x", ""}) {
        EXPECT_FALSE(complete(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + length + "\r\n\r\nabcde"))
            << length;
    }
}

TEST(HttpResponseTest, ParseNeedsAHeadEndAndANumericStatus) {
    using Parsed = std::optional<std::pair<int, std::string>>;
    const std::pair<std::string, Parsed> cases[] = {
        {lengthHead + "abcde", {{200, "abcde"}}},
        {chunkedHead + chunkedBody, {{200, "hello"}}},
        {"HTTP/1.1  200 OK\r\n\r\n", {{200, ""}}},
        {"HTTP/1.1 500\r\n\r\n", {{500, ""}}},
        // The body is everything after the head, even past Content-Length.
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabcdef", {{200, "abcdef"}}},
        {"HTTP/1.1\r\n\r\n", std::nullopt},
        {"HTTP/1.1 OK 200\r\n\r\n", std::nullopt},
        {"HTTP/1.1 -200 OK\r\n\r\n", std::nullopt},
        {"HTTP/1.1 99999999999999999999 OK\r\n\r\n", std::nullopt},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const std::optional<HttpResponse> response = HttpResponse::parse(toBytes(text));
        EXPECT_EQ(response ? Parsed({response->status, toString(response->body)}) : std::nullopt, expected)
            << text;
    }
}

TEST(HttpResponseTest, DechunkStopsAtAnythingItCannotTrust) {
    EXPECT_EQ(toString(HttpResponse::dechunk(toBytes("3\r\nabc\r\n2 ; x\r\nde\r\n0\r\n\r\n"))), "abcde");
    EXPECT_EQ(toString(HttpResponse::dechunk(toBytes("A\r\n0123456789\r\n0\r\n\r\n"))), "0123456789");
    // A size bigger than what remains, a size that overflows 64 bits, a
    // negative size, a read that ends right after a size line.
    EXPECT_EQ(toString(HttpResponse::dechunk(toBytes("3\r\nabc\r\n10\r\nshort"))), "abc");
    EXPECT_EQ(toString(HttpResponse::dechunk(toBytes("3\r\nabc\r\nffffffffffffffffff\r\nx\r\n"))), "abc");
    EXPECT_EQ(toString(HttpResponse::dechunk(toBytes("3\r\nabc\r\n-1\r\nx\r\n"))), "abc");
    EXPECT_EQ(toString(HttpResponse::dechunk(toBytes("3\r\nabc\r\n5\r\n"))), "abc");
    EXPECT_EQ(toString(HttpResponse::dechunk(toBytes("3\r\nabc"))), "abc");
    EXPECT_EQ(toString(HttpResponse::dechunk(toBytes("0x3\r\nabc\r\n"))), "");
}

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
