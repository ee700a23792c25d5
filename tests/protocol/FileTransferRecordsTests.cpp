#include "ProtocolTesting.h"
#include "protocol/FileItem.h"
#include "protocol/FileTransferReply.h"
#include "protocol/FileTransferRequest.h"
#include "protocol/json/Json.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::encoded;

TEST(FileTransferJson, WritesEachValueInItsFormAcrossTheWholeIntegerRanges) {
    const FileItem item{4294967295u, "r\u00E9sum\u00E9.pdf", 18446744073709551615u};
    EXPECT_EQ(encoded(item), R"({"id":4294967295,"name":"résumé.pdf","size":18446744073709551615})");
    EXPECT_EQ(Json::decode<FileItem>(encoded(item)), item);

    EXPECT_EQ(encoded(FileTransferRequest::upload("a.txt", 3)), R"({"upload":{"name":"a.txt","size":3}})");
    EXPECT_EQ(encoded(FileTransferRequest::download(7)), R"({"download":{"id":7}})");
    EXPECT_EQ(encoded(FileTransferReply::ready("a.txt", 3)), R"({"ready":{"name":"a.txt","size":3}})");
    EXPECT_EQ(encoded(FileTransferReply::refused("No room.")), R"({"refused":{"reason":"No room."}})");
    EXPECT_EQ(encoded(FileTransferReply::stored("a 2.txt")), R"({"stored":{"name":"a 2.txt"}})");

    for (const auto& reply :
         {FileTransferReply::ready("x", 0), FileTransferReply::refused(""), FileTransferReply::stored("y")}) {
        EXPECT_EQ(Json::decode<FileTransferReply>(Json::encode(reply)), reply);
    }
}

TEST(FileTransferJson, NeedsExactlyOneCaseKeyAndEveryValue) {
    for (const std::string_view json :
         {R"({"upload":{"name":"a","size":1},"download":{"id":1}})", "{}", R"({"Download":{"id":1}})"}) {
        JsonError failure(JsonError::Kind::invalidValue, {}, {});
        EXPECT_FALSE(Json::tryDecode<FileTransferRequest>(json, &failure)) << json;
        EXPECT_EQ(failure.description(), "Invalid number of keys found, expected one.") << json;
    }
    EXPECT_EQ(Json::decode<FileTransferRequest>(R"({"later":{"x":1},"download":{"id":9}})"),
              FileTransferRequest::download(9));

    EXPECT_FALSE(Json::tryDecode<FileTransferRequest>(R"({"upload":{"name":"a"}})"));
    EXPECT_FALSE(Json::tryDecode<FileTransferRequest>(R"({"download":null})"));
    EXPECT_FALSE(Json::tryDecode<FileTransferReply>(R"({"ready":{"name":"a","size":-1}})"));
    EXPECT_FALSE(Json::tryDecode<FileTransferReply>(R"({"stored":{}})"));
    EXPECT_FALSE(Json::tryDecode<FileItem>(R"({"id":1,"name":"a"})"));
}

} // namespace
} // namespace velm
