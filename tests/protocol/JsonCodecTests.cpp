// The JSON layer itself: value forms and rejection rules; the message cases are covered with the
// control messages.
#include "ProtocolTesting.h"
#include "protocol/CurtainState.h"
#include "protocol/json/Json.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

using test::encoded;
using test::replaced;

struct Numbers {
    std::int64_t count = 0;
    std::uint16_t port = 0;
    std::uint32_t id = 0;
    std::uint64_t size = 0;
    double ratio = 0;

    static void fields(auto& visit, auto&... self) {
        visit("count", self.count...);
        visit("port", self.port...);
        visit("id", self.id...);
        visit("size", self.size...);
        visit("ratio", self.ratio...);
    }
    friend bool operator==(const Numbers& a, const Numbers& b) { return fieldsEqual(a, b); }
};

struct Values {
    std::string text;
    Bytes data;
    Date when;
    Uuid uuid;
    std::vector<CurtainState> states;
    std::optional<bool> flag;
    std::optional<CurtainState> nested;

    static void fields(auto& visit, auto&... self) {
        visit("text", self.text...);
        visit("data", self.data...);
        visit("when", self.when...);
        visit("uuid", self.uuid...);
        visit("states", self.states...);
        visit("flag", self.flag...);
        visit("nested", self.nested...);
    }
    friend bool operator==(const Values& a, const Values& b) { return fieldsEqual(a, b); }
};

JsonError decodeFailure(std::string_view json, auto type) {
    JsonError failure(JsonError::Kind::invalidValue, {}, {});
    EXPECT_FALSE(Json::tryDecode<decltype(type)>(json, &failure).has_value()) << json;
    return failure;
}

TEST(JsonIntegers, AreCheckedAgainstTheirExactWidthAndTakeIntegralFloatsOnly) {
    const auto numbers = [](std::string_view count, std::string_view port, std::string_view id,
                            std::string_view size) {
        return "{\"count\":" + std::string(count) + ",\"port\":" + std::string(port) +
               ",\"id\":" + std::string(id) + ",\"size\":" + std::string(size) + ",\"ratio\":0}";
    };
    EXPECT_EQ(
        Json::decode<Numbers>(numbers("-9223372036854775808", "65535", "4294967295", "18446744073709551615")),
        (Numbers{std::numeric_limits<std::int64_t>::min(), 65535, 4294967295u,
                 std::numeric_limits<std::uint64_t>::max(), 0}));

    for (const auto& json : {numbers("9223372036854775808", "1", "1", "1"), numbers("1", "65536", "1", "1"),
                             numbers("1", "-1", "1", "1"), numbers("1", "1", "4294967296", "1"),
                             numbers("1", "1", "-1", "1"), numbers("1", "1", "1", "18446744073709551616"),
                             numbers("1", "1", "1", "-1"), numbers("1", "70000.0", "1", "1")}) {
        EXPECT_EQ(decodeFailure(json, Numbers{}).kind(), JsonError::Kind::dataCorrupted) << json;
    }

    EXPECT_EQ(Json::decode<Numbers>(R"({"count":6e1,"port":80.0,"id":-0.0,"size":1e19,"ratio":0})"),
              (Numbers{60, 80, 0, 10000000000000000000u, 0}));

    const auto fraction = decodeFailure(R"({"count":59.94,"port":1,"id":1,"size":1,"ratio":0})", Numbers{});
    EXPECT_EQ(fraction.kind(), JsonError::Kind::dataCorrupted);
    EXPECT_EQ(fraction.path(), "count");
    for (const std::string_view json : {R"({"count":true,"port":1,"id":1,"size":1,"ratio":0})",
                                        R"({"count":"1","port":1,"id":1,"size":1,"ratio":0})"}) {
        EXPECT_EQ(decodeFailure(json, Numbers{}).kind(), JsonError::Kind::typeMismatch) << json;
    }
}

TEST(JsonDoubles, AreWrittenAsIntegersWhenIntegralOtherwiseInShortestFormAndNeverWhenNotFinite) {
    Numbers numbers;
    numbers.ratio = 2;
    EXPECT_EQ(encoded(numbers), R"({"count":0,"port":0,"id":0,"size":0,"ratio":2})");
    for (const double ratio : {-2.5, 1e300, 9007199254740992.0, 5e-324, 123456789.125}) {
        numbers.ratio = ratio;
        EXPECT_EQ(Json::decode<Numbers>(Json::encode(numbers)).ratio, ratio);
    }
    numbers.ratio = 0.1;
    EXPECT_EQ(encoded(numbers), R"({"count":0,"port":0,"id":0,"size":0,"ratio":0.1})");

    for (const double ratio : {std::nan(""), -std::numeric_limits<double>::infinity()}) {
        numbers.ratio = ratio;
        JsonError failure(JsonError::Kind::dataCorrupted, {}, {});
        EXPECT_FALSE(Json::tryEncode(numbers, &failure).has_value());
        EXPECT_EQ(failure.kind(), JsonError::Kind::invalidValue);
        EXPECT_EQ(failure.path(), "ratio");
        EXPECT_THROW(Json::encode(numbers), JsonError);
    }
}

TEST(JsonValues, RoundTripWithDataDatesAndUuidsInTheirWireForms) {
    Values values{"caf\xC3\xA9 \"quoted\"\n",
                  {1, 2, 3},
                  Date(788918400),
                  *Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f"),
                  {{true, false}, {false, true}},
                  false,
                  {}};
    const std::string json = encoded(values);
    EXPECT_EQ(json,
              R"({"text":"café \"quoted\"\n","data":"AQID","when":788918400,)"
              R"("uuid":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","states":[{"available":true,"on":false},)"
              R"({"available":false,"on":true}],"flag":false})");
    EXPECT_EQ(Json::decode<Values>(json), values);

    values.text = "file\xFF\xC3.txt"; // invalid UTF-8 is replaced rather than failing the write
    EXPECT_EQ(Json::decode<Values>(Json::encode(values)).text, "file\xEF\xBF\xBD\xEF\xBF\xBD.txt");
}

constexpr std::string_view emptyValues =
    R"({"text":"","data":"","when":0,"uuid":"00000000-0000-0000-0000-000000000000","states":[]})";

// The platform's own tests go through the malformed forms; here, that the field fails and is named.
TEST(JsonValues, RejectBadBase64AndBadUuids) {
    const auto badData = decodeFailure(replaced(emptyValues, R"("data":"")", R"("data":"AQI")"), Values{});
    EXPECT_EQ(badData.kind(), JsonError::Kind::dataCorrupted);
    EXPECT_EQ(badData.path(), "data");
    EXPECT_EQ(decodeFailure(replaced(emptyValues, "00000000-", "0000000g-"), Values{}).path(), "uuid");
}

TEST(JsonObjects, IgnoreUnknownKeysAtEveryLevel) {
    Values expected;
    expected.states = {{true, true}};
    expected.nested = CurtainState{true, false};
    EXPECT_EQ(Json::decode<Values>(R"({"new":[1,{"x":null}],"text":"","data":"","when":0,)"
                                   R"("uuid":"00000000-0000-0000-0000-000000000000",)"
                                   R"("states":[{"available":true,"on":true,"later":{}}],)"
                                   R"("nested":{"on":false,"available":true,"z":1}})"),
              expected);
}

TEST(JsonObjects, FailOnMissingOrNullRequiredValuesAndNameWhere) {
    const auto withStates = [](std::string_view states) {
        return replaced(emptyValues, R"("states":[])", R"("states":)" + std::string(states));
    };
    const auto inArray =
        decodeFailure(withStates(R"([{"available":true,"on":true},{"available":true}])"), Values{});
    EXPECT_EQ(inArray.kind(), JsonError::Kind::keyNotFound);
    EXPECT_EQ(inArray.path(), "states[1]");
    EXPECT_NE(std::string(inArray.what()).find("\"on\""), std::string::npos);

    const auto nullRequired = decodeFailure(withStates(R"([{"available":null,"on":true}])"), Values{});
    EXPECT_EQ(nullRequired.kind(), JsonError::Kind::valueNotFound);
    EXPECT_EQ(nullRequired.path(), "states[0].available");

    EXPECT_EQ(decodeFailure(withStates("[null]"), Values{}).kind(), JsonError::Kind::valueNotFound);
    EXPECT_EQ(decodeFailure(withStates("{}"), Values{}).kind(), JsonError::Kind::typeMismatch);
    EXPECT_EQ(decodeFailure(R"(["available","on"])", CurtainState{}).kind(), JsonError::Kind::typeMismatch);
}

TEST(JsonDocuments, ThatAreNotJsonFailWithoutThrowingFromTryDecode) {
    for (const std::string_view text :
         {"", "{", R"({"available":true,"on":false} x)", "{'available':true}",
          "{\"available\":true,\"on\":false,\"n\":\"\xFF\"}", "{\"n\":1e400}"}) {
        EXPECT_EQ(decodeFailure(text, CurtainState{}).kind(), JsonError::Kind::dataCorrupted) << text;
    }
    EXPECT_EQ(decodeFailure("null", CurtainState{}).kind(), JsonError::Kind::valueNotFound);
    EXPECT_THROW(Json::decode<CurtainState>(std::string_view("{")), JsonError);
}

TEST(JsonDocuments, WithANulByteAnywhereFailInsteadOfEndingThere) {
    using namespace std::string_view_literals;
    // A reader that stopped at the NUL would take the first document and never see the rest.
    for (const std::string_view text :
         {"{\"available\":true,\"on\":false}\0"sv, "{\"available\":true,\"on\":false}\0{\"on\":true}"sv,
          "{\"available\":true,\"on\":false}\0\xFF\xFE"sv, "{\"available\":true,\0\"on\":false}"sv}) {
        EXPECT_EQ(decodeFailure(text, CurtainState{}).kind(), JsonError::Kind::dataCorrupted);
    }
    // Escaped, it is an ordinary character of a string.
    EXPECT_TRUE(
        Json::tryDecode<CurtainState>(R"({"available":true,"on":false,"n":"a\u0000b"})"sv).has_value());
}

TEST(JsonDocuments, ThatRepeatAMemberNameInOneObjectFailWhicheverValueWouldWin) {
    for (const std::string_view text :
         {R"({"available":true,"on":false,"on":true})", R"({"available":true,"on":false,"available":true})",
          R"({"available":true,"on":false,"x":[{"a":1,"b":2,"a":1}]})"}) {
        EXPECT_EQ(decodeFailure(text, CurtainState{}).kind(), JsonError::Kind::dataCorrupted) << text;
    }
    // The same name in different objects is no repetition.
    EXPECT_TRUE(Json::tryDecode<CurtainState>(
                    std::string_view(
                        R"({"available":true,"on":false,"x":{"on":1,"y":{"on":2}},"z":[{"on":3},{"on":4}]})"))
                    .has_value());
}

std::string nestedUnder(std::string_view key, std::size_t depth, char open, char close) {
    return R"({"available":true,"on":false,")" + std::string(key) + "\":" + std::string(depth, open) +
           std::string(depth, close) + "}";
}

TEST(JsonDocuments, NestedDeeperThanAnyMessageFailBeforeATreeIsBuilt) {
    // The record itself is the first level.
    const std::size_t deepest = Json::maxDepth - 1;
    EXPECT_TRUE(Json::tryDecode<CurtainState>(nestedUnder("x", deepest, '[', ']')).has_value());
    EXPECT_EQ(decodeFailure(nestedUnder("x", deepest + 1, '[', ']'), CurtainState{}).kind(),
              JsonError::Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure(nestedUnder("x", 2'000'000, '[', ']'), CurtainState{}).kind(),
              JsonError::Kind::dataCorrupted);
    // Brackets inside strings, escaped quotes included, are text and nest nothing.
    const std::string brackets = std::string(100, '[') + "\\\"" + std::string(100, '{');
    EXPECT_TRUE(Json::tryDecode<CurtainState>(nestedUnder(brackets, 1, '[', ']')).has_value());
}

} // namespace
} // namespace velm
