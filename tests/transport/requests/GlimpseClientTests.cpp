#include "platform/dispatch/ManualQueue.h"
#include "tests/support/EventLog.h"
#include "tests/support/Pump.h"
#include "tests/support/RawTls.h"
#include "tests/support/ScriptedHost.h"
#include "transport/keys/HelloProof.h"
#include "transport/requests/GlimpseClient.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::EventLog;
using test::ScriptedHost;

const std::string deviceID = "device-glimpse";
const Bytes key(32, 0x29);

std::optional<Bytes> glimpse(const Endpoint& endpoint) {
    auto images = std::make_shared<EventLog<std::optional<Bytes>>>();
    GlimpseClient::make(endpoint, deviceID, key)
        ->start("Ada's iPad", Queue::make("glimpse client"),
                [images](std::optional<Bytes> image) { images->push(std::move(image)); });
    EXPECT_TRUE(images->waitForCount(1));
    return images->values().empty() ? std::nullopt : images->values().front();
}

ScriptedHost::Script answeringWith(ControlMessage answer) {
    return ScriptedHost::answering(
        [answer](ScriptedHost::Connection& connection, const ControlMessage& message) {
            const auto* request = message.get<ControlMessage::RequestGlimpse>();
            const auto binding = connection.channel->sessionBinding();
            // Only a request that proves the device on this session is answered.
            if (request && request->hello.proof && binding &&
                isValidHelloProof(*request->hello.proof, key, *binding)) {
                connection.channel->send(answer);
            }
        });
}

TEST(GlimpseClientTest, ReturnsTheImageAsSent) {
    const Bytes jpeg{0xff, 0xd8, 0xff, 0xe0, 0x00};
    ScriptedHost host({*PreSharedKey::forDevice(deviceID, key)},
                      answeringWith(ControlMessage::glimpse(jpeg)));
    EXPECT_EQ(glimpse(host.endpoint()), jpeg);
    EXPECT_TRUE(host.waitForClosed(1));
}

TEST(GlimpseClientTest, EveryFailureIsNoImage) {
    for (const auto& answer :
         {ControlMessage::glimpse(std::nullopt), ControlMessage::bye(ByeReason::notPaired)}) {
        ScriptedHost host({*PreSharedKey::forDevice(deviceID, key)}, answeringWith(answer));
        EXPECT_EQ(glimpse(host.endpoint()), std::nullopt) << answer.caseName();
    }
    ScriptedHost otherKey({*PreSharedKey::forDevice(deviceID, Bytes(32, 0x30))}, {});
    EXPECT_EQ(glimpse(otherKey.endpoint()), std::nullopt);
}

TEST(GlimpseClientTest, ConnectionThatNeverBecomesReadyEndsAtTheTimeOut) {
    test::RawListener silent; // takes the connection and never says a word
    const auto manual = std::make_shared<ManualQueue>();
    std::vector<std::optional<Bytes>> images;
    GlimpseClient::make(Endpoint::hostPort("127.0.0.1", silent.port()), deviceID, key)
        ->start("Ada's iPad", manual,
                [&](std::optional<Bytes> image) { images.push_back(std::move(image)); });
    manual->runUntilIdle();
    manual->advance(GlimpseClient::timeout - std::chrono::milliseconds(1));
    EXPECT_TRUE(images.empty());
    manual->advance(std::chrono::milliseconds(1));
    EXPECT_EQ(images, std::vector<std::optional<Bytes>>{std::nullopt});
    EXPECT_TRUE(test::pumpUntilReleased(manual));
}

} // namespace
} // namespace velm
