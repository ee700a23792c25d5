#include "ProtocolTesting.h"
#include "protocol/AppListPage.h"
#include "protocol/ClientStats.h"
#include "protocol/CursorShape.h"
#include "protocol/StreamDescription.h"
#include "protocol/StreamRequest.h"
#include "protocol/TextInputArea.h"
#include "protocol/json/Json.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velm {
namespace {

using test::encoded;
using test::replaced;

constexpr std::string_view minimalRequest =
    R"({"maxPixelWidth":2732,"maxPixelHeight":2048,"fps":120,"bitrate":40000000,"keyframeIntervalSeconds":2})";

constexpr std::string_view minimalDescription =
    R"({"displayID":3,"codec":"hevc","pixelWidth":1920,"pixelHeight":1080,"fps":60,"bitrate":20000000,"isTestPattern":false})";

// Round trips of fully filled records are covered with the control messages; here the optional
// keys, the false flags and the rejections.
TEST(StreamRequestRecord, WithOnlyItsRequiredKeysReencodesToThemAndNeedsThemWhole) {
    // Every optional field reads as absent, or it would be written again.
    EXPECT_EQ(encoded(Json::decode<StreamRequest>(minimalRequest)), minimalRequest);

    auto saving = Json::decode<StreamRequest>(
        replaced(minimalRequest, "}", R"(,"savesPower":false,"displayID":null})"));
    EXPECT_FALSE(saving.displayID.has_value());
    EXPECT_EQ(saving.savesPower, false);
    EXPECT_NE(encoded(saving).find(R"("savesPower":false)"), std::string::npos);

    EXPECT_FALSE(
        Json::tryDecode<StreamRequest>(replaced(minimalRequest, R"(,"keyframeIntervalSeconds":2)", "")));
    EXPECT_FALSE(Json::tryDecode<StreamRequest>(replaced(minimalRequest, "120", "59.94")));
}

TEST(StreamDescriptionRecord, NeedsTheCodecByItsExactName) {
    EXPECT_EQ(encoded(Json::decode<StreamDescription>(minimalDescription)), minimalDescription);
    EXPECT_FALSE(Json::tryDecode<StreamDescription>(replaced(minimalDescription, "hevc", "HEVC")));
    EXPECT_FALSE(Json::tryDecode<StreamDescription>(replaced(minimalDescription, R"("codec":"hevc",)", "")));
}

TEST(SmallStreamRecords, HaveTheirExactForms) {
    const AppListPage page{{{"a.b", "Files", Bytes{1, 2}}, {"a.b", "Files", std::nullopt}}, 3, false};
    EXPECT_EQ(encoded(page), R"({"apps":[{"bundleID":"a.b","name":"Files","iconPNG":"AQI="},)"
                             R"({"bundleID":"a.b","name":"Files"}],"index":3,"isLast":false})");
    EXPECT_EQ(encoded(TextInputArea{0.25, 0.25, 0.5, 0.5}),
              R"({"x":0.25,"y":0.25,"width":0.5,"height":0.5})");
    constexpr std::string_view cursor =
        R"({"png":"AQID","width":32,"height":32,"hotSpotX":4.5,"hotSpotY":2})";
    EXPECT_EQ(encoded(Json::decode<CursorShape>(cursor)), cursor);
    EXPECT_FALSE(Json::tryDecode<CursorShape>(replaced(cursor, R"(,"hotSpotY":2)", "")));
}

TEST(ClientStatsRecord, ComparesNumericallyAndRefusesNaN) {
    EXPECT_EQ((ClientStats{58, 2, 0.01, -0.0, 1.25, 12}), (ClientStats{58, 2, 0.01, 0.0, 1.25, 12}));
    EXPECT_NE((ClientStats{58, 2, 0.01, 0.0, 1.25, 12}), (ClientStats{58, 2, 0.01, 0.0, 1.25, 13}));
    const ClientStats lost{58, 2, std::nan(""), 0, 1.25, 12};
    EXPECT_NE(lost, lost);
    EXPECT_FALSE(Json::tryEncode(lost).has_value());
}

} // namespace
} // namespace velm
