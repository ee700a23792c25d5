#include "transport/away/HttpResponse.h"

#include <gtest/gtest.h>

#include <string>

namespace velm {
namespace {

bool complete(const std::string& text) { return HttpResponse::isComplete(toBytes(text)); }

std::optional<HttpResponse> parse(const std::string& text) { return HttpResponse::parse(toBytes(text)); }

TEST(HttpResponseTest, ContentLengthReplyIsCompleteOnceTheBodyIsThere) {
    const std::string head = "HTTP/1.1 200 OK\r\nServer: x\r\nCONTENT-LENGTH:\t5 \r\n\r\n";
    EXPECT_FALSE(complete("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"));
    EXPECT_FALSE(complete(head + "abcd"));
    EXPECT_TRUE(complete(head + "abcde"));

    const auto response = parse(head + "abcde");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(toString(response->body), "abcde");
}

TEST(HttpResponseTest, ContentLengthMustBePlainDigits) {
    // A negative, signed, overflowing or missing length never counts as
    // complete: the reply then ends when the peer closes.
    for (const char* length : {"-1", "+5", "99999999999999999999999", "5x", ""}) {
        EXPECT_FALSE(complete(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + length + "\r\n\r\nabcde"))
            << length;
    }
    EXPECT_FALSE(complete("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nabcde"));
}

TEST(HttpResponseTest, ChunkedReplyIsCompleteAfterItsLastChunk) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string body = "5;name=value\r\nhello\r\n0\r\n\r\n";
    for (std::size_t cut = 0; cut < body.size(); ++cut) {
        EXPECT_FALSE(complete(head + body.substr(0, cut))) << cut;
    }
    EXPECT_TRUE(complete(head + body));

    const auto response = parse(head + body);
    ASSERT_TRUE(response);
    EXPECT_EQ(toString(response->body), "hello");
}

TEST(HttpResponseTest, ChunkDataThatLooksLikeTheEndDoesNotEndTheReply) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    // The first chunk's data ends in "0\r\n\r\n", and only part of it arrived.
    EXPECT_FALSE(complete(head + "10\r\nabcdefghijk0\r\n\r\n"));
    EXPECT_TRUE(complete(head + "10\r\nabcdefghijk0\r\n\r\n\r\n0\r\n\r\n"));
    // Trailers after the last chunk end with an empty line.
    EXPECT_FALSE(complete(head + "1\r\na\r\n0\r\nExpires: never\r\n"));
    EXPECT_TRUE(complete(head + "1\r\na\r\n0\r\nExpires: never\r\n\r\n"));
    // A body that can no longer be valid chunking is not waited on.
    EXPECT_TRUE(complete(head + "zz\r\n"));
}

TEST(HttpResponseTest, StatusLineNeedsAVersionAndANumber) {
    const auto spaced = parse("HTTP/1.1  200 OK\r\n\r\n");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->status, 200);
    EXPECT_EQ(parse("HTTP/1.1 500\r\n\r\n")->status, 500);

    EXPECT_FALSE(parse("HTTP/1.1\r\n\r\n"));
    EXPECT_FALSE(parse("HTTP/1.1 OK 200\r\n\r\n"));
    EXPECT_FALSE(parse("HTTP/1.1 -200 OK\r\n\r\n"));
    EXPECT_FALSE(parse("HTTP/1.1 99999999999999999999 OK\r\n\r\n"));
    EXPECT_FALSE(parse("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"));
}

TEST(HttpResponseTest, BodyIsEverythingAfterTheHeadEvenPastContentLength) {
    const auto response = parse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabcdef");
    ASSERT_TRUE(response);
    EXPECT_EQ(toString(response->body), "abcdef");
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

} // namespace
} // namespace velm
