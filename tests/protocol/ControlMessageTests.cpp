#include "protocol/ControlMessage.h"
#include "protocol/json/Json.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

ClientHello hello() {
    return ClientHello("8C1E7A52-0D1B-4F6E-9A3C-5B2D4E6F7A81", "Ada's iPad", 2732, 2048, 120, Bytes(32, 7),
                       DeviceModel{"iPad13,4", "iPad Pro"}, Bytes{4, 1, 2}, Bytes(64, 9), true);
}

ConnectionRecord record() {
    using R = ConnectionRecord;
    return R{.id = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
             .kind = R::Kind::session,
             .deviceID = "d",
             .deviceName = "Ada's iPad",
             .route = R::Route::door,
             .from = "203.0.113.7",
             .started = Date(788918400.25),
             .ended = Date(788918460),
             .ending = R::Ending::idleTimeout,
             .refusal = std::nullopt,
             .forwardSecret = true};
}

// One message of every case, in declaration order, with payloads that fill every field.
std::vector<ControlMessage> everyCase() {
    const Bytes png{0x89, 'P', 'N', 'G'};
    const HostHello hostHello("studio", {DisplayInfo{1, "Built-in", 2560, 1600, 1280, 800, true}}, 50000,
                              SecretBytes(Bytes(32, 1)), SecretBytes(Bytes(16, 2)),
                              DeviceModel{"Mac14,3", std::nullopt}, false, "host.example.net", true,
                              Date(788918400), 900, CurtainState{true, false}, true);
    const StreamRequest request{7,     1,    2,     3,    4,     0.5, true, "org.example.app",
                                false, true, false, true, false, true};
    const StreamDescription description{3,     VideoCodec::hevc,  1920,   1080, 60,   20000000, false,
                                        "App", "org.example.app", 1280.5, 720,  true, false};
    return {
        ControlMessage::hello(hello()),
        ControlMessage::helloAck(hostHello),
        ControlMessage::pairRequest({"d", "Ada's iPad", Bytes(32, 3)}),
        ControlMessage::pairResponse({"host-id", Bytes(32, 4), Bytes(60, 5)}),
        ControlMessage::configureStream(request),
        ControlMessage::streamStarted(description),
        ControlMessage::requestKeyframe(),
        ControlMessage::pauseStream(),
        ControlMessage::ping(4294967295u, 18446744073709551615u),
        ControlMessage::pong(7, 5000000, 912345678),
        ControlMessage::clientStats({600, 3, 0.01, 4.5, 2.25, 18}),
        ControlMessage::bitrateChanged(-1),
        ControlMessage::displaysChanged(
            {DisplayInfo{1, "A", 1, 2, 3, 4, true}, DisplayInfo{2, "B", 5, 6, 7, 8, false}}),
        ControlMessage::pointerPosition(0.25, 1),
        ControlMessage::textInputFocus(true),
        ControlMessage::textInputArea(TextInputArea{0.1, 0.2, 0.3, 0.4}),
        ControlMessage::cursorShape({png, 16, 24, 1.5, 2}),
        ControlMessage::configureAudio(false),
        ControlMessage::listApps(),
        ControlMessage::apps(
            {AppInfo{"com.example.a", "A", png}, AppInfo{"com.example.b", "B", std::nullopt}}),
        ControlMessage::listInstalledApps(),
        ControlMessage::installedApps({{AppInfo{"com.example.c", "C", Bytes{}}}, 2, true}),
        ControlMessage::requestDeviceImage(),
        ControlMessage::deviceImage(png, Bytes{1}),
        ControlMessage::requestGlimpse(hello()),
        ControlMessage::glimpse(Bytes{0xFF, 0xD8}),
        ControlMessage::openFileTransfer(hello(),
                                         FileTransferRequest::upload("a.txt", 18446744073709551615u)),
        ControlMessage::fileTransfer(FileTransferReply::stored("a 2.txt")),
        ControlMessage::filesAvailable({FileItem{1, "a.txt", 3}, FileItem{4294967295u, "b", 0}}),
        ControlMessage::appModeEnded("The app quit."),
        ControlMessage::requestHistory(hello()),
        ControlMessage::history({record(), record()}),
        ControlMessage::idleWarning(60),
        ControlMessage::stillHere(),
        ControlMessage::setCurtain(true),
        ControlMessage::curtain({true, true}),
        ControlMessage::bye(ByeReason::awayKeyRequired),
    };
}

std::string json(const ControlMessage& message) {
    return toString(*message.jsonEncoded());
}

std::optional<ControlMessage> decoded(std::string_view text, JsonError* failure = nullptr) {
    return ControlMessage::fromJson(toBytes(text), failure);
}

JsonError failure(std::string_view text) {
    JsonError error(JsonError::Kind::invalidValue, {}, {});
    EXPECT_FALSE(decoded(text, &error).has_value()) << text;
    return error;
}

TEST(ControlMessageCases, AreThirtySevenInDeclarationOrderAndRoundTrip) {
    const auto messages = everyCase();
    ASSERT_EQ(messages.size(), 37u);
    ASSERT_EQ(std::variant_size_v<ControlMessage::Value>, 37u);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const ControlMessage& message = messages[i];
        EXPECT_EQ(message.value().index(), i);
        const std::string text = json(message);
        EXPECT_TRUE(text.starts_with("{\"" + std::string(message.caseName()) + "\":{")) << text;
        EXPECT_EQ(decoded(text), message) << text;
    }
}

TEST(ControlMessageJson, ReproducesTheWorkedExamples) {
    EXPECT_EQ(json(ControlMessage::ping(7, 5000000)), R"({"ping":{"id":7,"clientTime":5000000}})");
    EXPECT_EQ(json(ControlMessage::pong(7, 5000000, 912345678)),
              R"({"pong":{"id":7,"clientTime":5000000,"hostTime":912345678}})");
    EXPECT_EQ(json(ControlMessage::curtain({true, false})),
              R"({"curtain":{"_0":{"available":true,"on":false}}})");
    EXPECT_EQ(json(ControlMessage::bye(ByeReason::idleTimeout)), R"({"bye":{"_0":"idleTimeout"}})");
    const Bytes pngSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_EQ(json(ControlMessage::deviceImage(std::nullopt, pngSignature)),
              R"({"deviceImage":{"display":"iVBORw0KGgo="}})");
    EXPECT_EQ(json(ControlMessage::stillHere()), R"({"stillHere":{}})");
}

TEST(ControlMessageJson, WritesPayloadsUnderTheirKeysWithDatesAsSecondsAndDataAsBase64) {
    EXPECT_EQ(
        json(ControlMessage::openFileTransfer(ClientHello("d", "n", 1, 2, 60, std::nullopt, std::nullopt,
                                                          std::nullopt, std::nullopt, std::nullopt),
                                              FileTransferRequest::download(3))),
        R"({"openFileTransfer":{"_0":{"protocolVersion":1,"deviceID":"d","deviceName":"n",)"
        R"("screenPixelWidth":1,"screenPixelHeight":2,"maxFPS":60},"_1":{"download":{"id":3}}}})");
    // The history carries the bare array of records in their stored form.
    EXPECT_EQ(json(ControlMessage::history({record()})),
              R"({"history":{"_0":[)" + toString(Json::encode(record())) + "]}}");
    EXPECT_EQ(json(ControlMessage::glimpse(Bytes{})), R"({"glimpse":{"_0":""}})");
}

TEST(ControlMessageJson, ReadsOptionalsAsAbsentWhenMissingOrNullAndIgnoresUnknownMembers) {
    EXPECT_EQ(json(*decoded(R"({"glimpse":{"_0":null}})")), R"({"glimpse":{}})");
    EXPECT_EQ(decoded(R"({"deviceImage":{"_0":"AQID"}})"),
              ControlMessage::deviceImage(Bytes{1, 2, 3}, std::nullopt));
    EXPECT_EQ(decoded(R"({"stillHere":{},"somethingNew":{}})"), ControlMessage::stillHere());
    EXPECT_EQ(decoded(R"(  {"idleWarning" : {"secondsLeft" : 6e1}} )"), ControlMessage::idleWarning(60));
}

TEST(ControlMessageJson, NeedsExactlyOneKeyThatNamesACase) {
    for (const std::string_view text :
         {"{}", R"({"somethingNew":{}})", R"({"Ping":{"id":1,"clientTime":2}})",
          R"({"ping":{"id":1,"clientTime":2},"pong":{"id":1,"clientTime":2,"hostTime":3}})"}) {
        const JsonError error = failure(text);
        EXPECT_EQ(error.kind(), JsonError::Kind::typeMismatch) << text;
        EXPECT_EQ(error.description(), "Invalid number of keys found, expected one.") << text;
    }
}

TEST(ControlMessageJson, RefusesACaseKeyGivenTwiceRatherThanPickOne) {
    EXPECT_FALSE(decoded(R"({"bye":{"_0":"hostQuit"},"bye":{"_0":"userDisconnected"}})"));
    EXPECT_FALSE(decoded(R"({"ping":{"id":1,"clientTime":2,"id":3}})"));
}

TEST(ControlMessageJson, FailsAsAWholeOnAnyFaultInThePayload) {
    EXPECT_EQ(failure(R"({"requestKeyframe":null})").kind(), JsonError::Kind::valueNotFound);
    EXPECT_EQ(failure(R"({"requestKeyframe":true})").kind(), JsonError::Kind::typeMismatch);
    EXPECT_EQ(failure(R"({"bye":{"_0":"somethingElse"}})").path(), "bye._0");
    EXPECT_EQ(failure(R"({"bye":{"_0":"IdleTimeout"}})").kind(), JsonError::Kind::dataCorrupted);
    EXPECT_EQ(failure(R"({"bye":{}})").kind(), JsonError::Kind::keyNotFound);

    // A valid hello does not save a request that lacks its second value.
    std::string transfer = json(ControlMessage::openFileTransfer(hello(), FileTransferRequest::download(1)));
    transfer.erase(transfer.find(R"(,"_1")"), std::string(R"(,"_1":{"download":{"id":1}})").size());
    EXPECT_EQ(failure(transfer).kind(), JsonError::Kind::keyNotFound);

    // The history message carries the bare array, all or nothing.
    EXPECT_EQ(failure(R"({"history":{"_0":{"records":[]}}})").kind(), JsonError::Kind::typeMismatch);
    std::string newerRecord = json(ControlMessage::history({record()}));
    newerRecord.replace(newerRecord.find("idleTimeout"), 11, "vanished");
    EXPECT_EQ(failure(newerRecord).path(), "history._0[0].ending");
}

TEST(ControlMessageJson, RejectsWhatIsNotOneJsonObjectWithoutThrowing) {
    for (const std::string_view text : {"", "null", "[]", "\"ping\"", "7", R"({"stillHere":{}} {})",
                                        "{\"appModeEnded\":{\"reason\":\"\xFF\"}}", R"({"stillHere":{})"}) {
        EXPECT_NO_THROW(failure(text));
    }
    // Depth that no message needs is refused before a tree is built, also inside a member nobody reads.
    const std::string deep =
        R"({"stillHere":{"later":)" + std::string(1'000'000, '[') + std::string(1'000'000, ']') + "}}";
    EXPECT_EQ(failure(deep).kind(), JsonError::Kind::dataCorrupted);
    EXPECT_NO_THROW(failure(R"({"ping":)" + std::string(1'000'000, '[') + std::string(1'000'000, ']') + "}"));
    EXPECT_EQ(decoded(R"({"stillHere":{"later":[[[{"x":[]}]]]}})"), ControlMessage::stillHere());
}

TEST(ControlMessageJson, CannotEncodeANumberJsonCannotCarry) {
    JsonError error(JsonError::Kind::dataCorrupted, {}, {});
    EXPECT_FALSE(ControlMessage::pointerPosition(std::nan(""), 0.5).jsonEncoded(&error).has_value());
    EXPECT_EQ(error.kind(), JsonError::Kind::invalidValue);
    EXPECT_EQ(error.path(), "pointerPosition.x");
}

TEST(ControlMessageEquality, ComparesCaseAndPayloadWithTextByCanonicalEquivalence) {
    EXPECT_EQ(ControlMessage::appModeEnded("Caf\u00E9"), ControlMessage::appModeEnded("Cafe\u0301"));
    EXPECT_NE(ControlMessage::appModeEnded("Cafe"), ControlMessage::appModeEnded("Caf\u00E9"));
    EXPECT_NE(ControlMessage::glimpse(std::nullopt), ControlMessage::glimpse(Bytes{}));
}

} // namespace
} // namespace velm
