#include "ProtocolTesting.h"
#include "protocol/ByeReason.h"
#include "protocol/ClientHello.h"
#include "protocol/CurtainState.h"
#include "protocol/HostHello.h"
#include "protocol/PairRequest.h"
#include "protocol/json/Json.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::encoded;
using test::replaced;

ClientHello fullClientHello() {
    return ClientHello("device-1", "Ada's iPad", 2732, 2048, 120, Bytes(32, 7),
                       DeviceModel{"iPad13,4", "iPad Pro"}, Bytes{4, 1, 2}, Bytes(64, 9), true);
}

HostHello fullHostHello() {
    return HostHello("studio", {DisplayInfo{1, "Built-in", 2560, 1600, 1280, 800, true}}, 50000,
                     SecretBytes(Bytes(32, 1)), SecretBytes(Bytes(16, 2)),
                     DeviceModel{"Mac14,3", std::nullopt}, false, "host.example.net", true, Date(788918400),
                     900, CurtainState{true, false}, true);
}

constexpr std::string_view minimalHostHello =
    R"({"protocolVersion":1,"hostName":"h","displays":[],"videoPort":65535,"videoKey":"","sessionToken":""})";

TEST(ClientHelloRecord, NeedsItsSixRequiredKeysOnly) {
    const auto hello = Json::decode<ClientHello>(
        R"({"protocolVersion":2,"deviceID":"d","deviceName":"n","screenPixelWidth":1,"screenPixelHeight":2,"maxFPS":60,)"
        R"("proof":null,"model":{"identifier":"iPad8,1"}})");
    ClientHello expected("d", "n", 1, 2, 60, std::nullopt, DeviceModel{"iPad8,1", std::nullopt}, std::nullopt,
                         std::nullopt, std::nullopt);
    expected.protocolVersion = 2;
    EXPECT_EQ(hello, expected);

    EXPECT_FALSE(Json::tryDecode<ClientHello>(
        R"({"protocolVersion":1,"deviceID":"d","deviceName":"n","screenPixelWidth":1,"screenPixelHeight":2})"));
}

TEST(ClientHelloRecord, ComparesEveryFieldAndTextByCanonicalEquivalence) {
    ClientHello other = fullClientHello();
    other.awaySignature = Bytes(64, 8);
    EXPECT_NE(other, fullClientHello());

    ClientHello composed = fullClientHello();
    ClientHello decomposed = fullClientHello();
    composed.deviceName = "Ren\xC3\xA9";    // é as one code point
    decomposed.deviceName = "Rene\xCC\x81"; // e and a combining acute accent
    EXPECT_EQ(composed, decomposed);
    decomposed.deviceName = "Rene";
    EXPECT_NE(composed, decomposed);
}

TEST(ByeReasonAdapted, GivesPolicyReasonsOnlyToClientsThatUnderstandThem) {
    const std::string helloWithout =
        R"({"protocolVersion":1,"deviceID":"d","deviceName":"n","screenPixelWidth":1,"screenPixelHeight":2,"maxFPS":60)";
    for (const std::string_view policy :
         {"", R"(,"understandsPolicy":false)", R"(,"understandsPolicy":null)"}) {
        const auto old = Json::decode<ClientHello>(helloWithout + std::string(policy) + "}");
        EXPECT_EQ(adapted(old, ByeReason::awayKeyRequired), ByeReason::remoteAccessDisabled) << policy;
        EXPECT_EQ(adapted(old, ByeReason::idleTimeout), ByeReason::remoteAccessDisabled) << policy;
        EXPECT_EQ(adapted(old, ByeReason::userDisconnected), ByeReason::userDisconnected) << policy;
        EXPECT_EQ(adapted(old, ByeReason::notPaired), ByeReason::notPaired) << policy;
    }
    const auto current = Json::decode<ClientHello>(helloWithout + R"(,"understandsPolicy":true})");
    for (std::size_t i = 0; i < RawValues<ByeReason>::names.size(); ++i) {
        const auto reason = static_cast<ByeReason>(i);
        EXPECT_EQ(adapted(current, reason), reason);
    }
}

TEST(HostHelloRecord, WritesTheOptionalFieldsUnderTheirKeys) {
    const std::string json = encoded(fullHostHello());
    EXPECT_NE(
        json.find(R"("awayAccessUntil":788918400,"idleTimeout":900,"curtain":{"available":true,"on":false})"),
        std::string::npos);
    EXPECT_NE(json.find(R"("model":{"identifier":"Mac14,3"},"hasDisplay":false)"), std::string::npos);
}

TEST(HostHelloRecord, WithOnlyItsRequiredKeysReencodesToThemAndChecksThePortWidth) {
    // Every optional field reads as absent, or it would be written again.
    const auto hello = Json::decode<HostHello>(minimalHostHello);
    EXPECT_EQ(encoded(hello), minimalHostHello);

    HostHello withFalseFlag = hello;
    withFalseFlag.holdsAnotherAwayKey = false;
    EXPECT_NE(encoded(withFalseFlag).find(R"("holdsAnotherAwayKey":false)"), std::string::npos);

    for (const std::string_view port : {"65536", "-1", "80.5"}) {
        EXPECT_FALSE(Json::tryDecode<HostHello>(replaced(minimalHostHello, "65535", port)).has_value())
            << port;
    }
}

TEST(SmallSessionRecords, HaveTheirExactForms) {
    const DisplayInfo display{4294967295u, "Wide", 5120, 2160, 2560, 1080, false};
    EXPECT_EQ(encoded(display), R"({"id":4294967295,"name":"Wide","pixelWidth":5120,"pixelHeight":2160,)"
                                R"("pointWidth":2560,"pointHeight":1080,"isMain":false})");

    const PairRequest request{"device", "Ada", Bytes{0xFB, 0xFF}};
    EXPECT_EQ(encoded(request), R"({"deviceID":"device","deviceName":"Ada","publicKey":"+/8="})");
}

} // namespace
} // namespace velm
