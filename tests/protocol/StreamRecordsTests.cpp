#include "protocol/AppListPage.h"
#include "protocol/ClientStats.h"
#include "protocol/CursorShape.h"
#include "protocol/StreamDescription.h"
#include "protocol/StreamRequest.h"
#include "protocol/TextInputArea.h"
#include "protocol/json/Json.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velm {
namespace {

std::string encoded(const auto& value) { return toString(Json::encode(value)); }

constexpr std::string_view minimalRequest =
    R"({"maxPixelWidth":2732,"maxPixelHeight":2048,"fps":120,"bitrate":40000000,"keyframeIntervalSeconds":2})";

constexpr std::string_view minimalDescription =
    R"({"displayID":3,"codec":"hevc","pixelWidth":1920,"pixelHeight":1080,"fps":60,"bitrate":20000000,"isTestPattern":false})";

std::string replaced(std::string_view json, std::string_view from, std::string_view to) {
    std::string text(json);
    text.replace(text.find(from), from.size(), to);
    return text;
}

TEST(StreamRequestRecord, WithOnlyItsRequiredKeysReencodesToTheSameKeys) {
    const auto request = Json::decode<StreamRequest>(minimalRequest);
    EXPECT_FALSE(request.displayID || request.clientDrawsCursor || request.appBundleID || request.launchApp ||
                 request.matchClientDisplay || request.favorsFrameRate || request.usesStandardEncoder ||
                 request.savesPower || request.fullChroma);
    EXPECT_EQ(encoded(request), minimalRequest);
}

TEST(StreamRequestRecord, RoundTripsAndKeepsFalseFlags) {
    const StreamRequest request{7, 1, 2, 3, 4, 0.5, true, "org.example.app", false, true, false, true, false, true};
    EXPECT_EQ(Json::decode<StreamRequest>(Json::encode(request)), request);

    auto saving = Json::decode<StreamRequest>(replaced(minimalRequest, "}", R"(,"savesPower":false,"displayID":null})"));
    EXPECT_FALSE(saving.displayID.has_value());
    EXPECT_EQ(saving.savesPower, false);
    EXPECT_NE(encoded(saving).find(R"("savesPower":false)"), std::string::npos);
}

TEST(StreamRequestRecord, RejectsMissingKeysFractionsAndWideDisplayIDs) {
    EXPECT_FALSE(Json::tryDecode<StreamRequest>(replaced(minimalRequest, R"(,"keyframeIntervalSeconds":2)", "")));
    EXPECT_FALSE(Json::tryDecode<StreamRequest>(replaced(minimalRequest, "120", "59.94")));
    EXPECT_FALSE(Json::tryDecode<StreamRequest>(replaced(minimalRequest, "}", R"(,"displayID":4294967296})")));
    EXPECT_TRUE(Json::tryDecode<StreamRequest>(replaced(minimalRequest, "}", R"(,"displayID":4294967295})")));
}

TEST(StreamDescriptionRecord, NeedsTheCodecByItsExactName) {
    const auto description = Json::decode<StreamDescription>(minimalDescription);
    EXPECT_EQ(description.codec, VideoCodec::hevc);
    EXPECT_FALSE(description.pointWidth.has_value());
    EXPECT_FALSE(description.pointHeight.has_value());
    EXPECT_EQ(encoded(description), minimalDescription);

    EXPECT_FALSE(Json::tryDecode<StreamDescription>(replaced(minimalDescription, "hevc", "HEVC")));
    EXPECT_FALSE(Json::tryDecode<StreamDescription>(replaced(minimalDescription, R"("codec":"hevc",)", "")));
    EXPECT_EQ(rawValue(VideoCodec::hevc), "hevc");
    EXPECT_FALSE(fromRawValue<VideoCodec>("h264").has_value());
}

TEST(StreamDescriptionRecord, RoundTripsInAppMode) {
    const StreamDescription description{1, VideoCodec::hevc, 2388, 1668, 120, 30000000, false, "Notes",
                                        "org.example.notes", 1194, 834.5, true, true};
    EXPECT_EQ(Json::decode<StreamDescription>(Json::encode(description)), description);
}

TEST(ApplicationRecords, RoundTripWithAndWithoutIcons) {
    const auto bare = Json::decode<AppInfo>(R"({"bundleID":"a.b","name":"Files"})");
    EXPECT_FALSE(bare.iconPNG.has_value());
    EXPECT_EQ(Json::decode<AppListPage>(R"({"apps":[],"index":0,"isLast":true})"), (AppListPage{{}, 0, true}));

    const AppListPage page{{{"a.b", "Files", Bytes{1, 2}}, bare}, 3, false};
    EXPECT_EQ(encoded(page), R"({"apps":[{"bundleID":"a.b","name":"Files","iconPNG":"AQI="},)"
                             R"({"bundleID":"a.b","name":"Files"}],"index":3,"isLast":false})");
    EXPECT_EQ(Json::decode<AppListPage>(Json::encode(page)), page);
    EXPECT_FALSE(Json::tryDecode<AppListPage>(R"({"apps":[{"name":"Files"}],"index":0,"isLast":true})"));
}

TEST(PictureRecords, NeedEveryKey) {
    constexpr std::string_view area = R"({"x":0.25,"y":0.25,"width":0.5,"height":0.5})";
    EXPECT_EQ(encoded(TextInputArea{0.25, 0.25, 0.5, 0.5}), area);
    for (const std::string_view key : {R"("x":0.25,)", R"("y":0.25,)", R"("width":0.5,)", R"(,"height":0.5)"}) {
        EXPECT_FALSE(Json::tryDecode<TextInputArea>(replaced(area, key, ""))) << key;
    }

    constexpr std::string_view cursor = R"({"png":"AQID","width":32,"height":32,"hotSpotX":4.5,"hotSpotY":2})";
    EXPECT_EQ(Json::decode<CursorShape>(cursor), (CursorShape{{1, 2, 3}, 32, 32, 4.5, 2}));
    EXPECT_EQ(encoded(Json::decode<CursorShape>(cursor)), cursor);
    for (const std::string_view key : {R"("png":"AQID",)", R"("width":32,)", R"("height":32,)", R"("hotSpotX":4.5,)",
                                       R"(,"hotSpotY":2)"}) {
        EXPECT_FALSE(Json::tryDecode<CursorShape>(replaced(cursor, key, ""))) << key;
    }
}

TEST(ClientStatsRecord, ComparesNumericallyAndRefusesNaN) {
    const ClientStats stats{58, 2, 0.01, 3.5, 1.25, 12};
    EXPECT_EQ(Json::decode<ClientStats>(Json::encode(stats)), stats);
    ClientStats slower = stats;
    slower.rttMs = 13;
    EXPECT_NE(slower, stats);
    ClientStats negativeZero = stats;
    negativeZero.decodeMs = 0;
    ClientStats positiveZero = negativeZero;
    negativeZero.decodeMs = -0.0;
    EXPECT_EQ(negativeZero, positiveZero);

    ClientStats lost = stats;
    lost.packetLoss = std::nan("");
    EXPECT_NE(lost, lost);
    EXPECT_FALSE(Json::tryEncode(lost).has_value());
}

} // namespace
} // namespace velm
