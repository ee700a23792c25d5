#include "platform/crypto/Random.h"
#include "protocol/ChannelFrame.h"
#include "tests/host/model/ModelHarness.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::isMessage;
using Message = ControlMessage;

// Answers whose pictures add up to more than one frame holds reach the device whole but for pictures
// left out, the largest first.
class PictureAnswersTest : public ::testing::Test {
protected:
    // Entries of "app-<index>", each with an icon of `sizeOf(index)` random bytes (none for zero).
    static std::vector<AppInfo> apps(std::size_t count,
                                     const std::function<std::size_t(std::size_t)>& sizeOf) {
        std::vector<AppInfo> made;
        for (std::size_t index = 0; index < count; ++index) {
            const auto size = sizeOf(index);
            made.push_back({.bundleID = "app-" + std::to_string(index),
                            .name = "App " + std::to_string(index),
                            .iconPNG = size ? std::optional(Random::bytes(size)) : std::nullopt});
        }
        return made;
    }

    // The first message of that case the client received, once it came.
    // Megabytes of pictures go through JSON and TLS both ways: slow under a sanitizer on a busy machine.
    template <typename Case> std::optional<Message> answer(test::TestClient& client) {
        host.pumpUntil([&] { return client.hasReceived(isMessage<Case>); }, std::chrono::seconds(60));
        for (auto& message : client.received()) {
            if (isMessage<Case>(message)) {
                return message;
            }
        }
        return std::nullopt;
    }

    // Every entry, in order, each with its own icon or none; and no kept icon larger than one left out.
    static void expectSameEntriesLargestIconsLeftOut(const std::vector<AppInfo>& sent,
                                                     const std::vector<AppInfo>& asked) {
        ASSERT_EQ(sent.size(), asked.size());
        std::size_t largestKept = 0;
        std::size_t smallestLeftOut = SIZE_MAX;
        for (std::size_t index = 0; index < sent.size(); ++index) {
            EXPECT_EQ(std::pair(sent[index].bundleID, sent[index].name),
                      std::pair(asked[index].bundleID, asked[index].name));
            if (sent[index].iconPNG) {
                EXPECT_EQ(sent[index].iconPNG, asked[index].iconPNG);
                largestKept = std::max(largestKept, sent[index].iconPNG->size());
            } else if (asked[index].iconPNG) {
                smallestLeftOut = std::min(smallestLeftOut, asked[index].iconPNG->size());
            }
        }
        EXPECT_LE(largestKept, smallestLeftOut);
        EXPECT_GT(largestKept, 0u) << "only as many icons left out as it takes";
        EXPECT_NE(smallestLeftOut, SIZE_MAX) << "some icons left out";
    }

    test::ModelHarness host;
};

TEST_F(PictureAnswersTest, RunningApplicationsArriveWithTheLargestIconsLeftOut) {
    // About 9 MiB of icons in Base64, every fifth entry without one.
    host.desktop->running = apps(80, [](std::size_t index) { return index % 5 ? 70'000 + index * 997 : 0; });
    host.start();
    auto client = host.connect("ipad", host.pairDevice("ipad"));
    ASSERT_TRUE(client);

    client->send(Message::listApps());
    const auto message = answer<Message::Apps>(*client);
    ASSERT_TRUE(message) << "the device hears an answer";
    EXPECT_LE(message->jsonEncoded()->size(), ChannelFrame::maxPayloadLength);
    expectSameEntriesLargestIconsLeftOut(message->get<Message::Apps>()->apps, host.desktop->running);
}

TEST_F(PictureAnswersTest, InstalledPagesAndDeviceImagesFitTheirFrames) {
    host.desktop->installed = apps(30, [](std::size_t index) { return 200'000 + index; });
    host.desktop->images = {.image = Random::bytes(2'500'000), .display = Random::bytes(1'000'000)};
    host.start();
    auto client = host.connect("ipad", host.pairDevice("ipad"));
    ASSERT_TRUE(client);

    client->send(Message::listInstalledApps());
    client->send(Message::requestDeviceImage());
    const auto image = answer<Message::DeviceImage>(*client);
    ASSERT_TRUE(image);
    EXPECT_EQ(*image, Message::deviceImage(std::nullopt, host.desktop->images.display));

    // The pages go one after the other, so the image can come between them.
    std::vector<AppInfo> listed;
    const auto listAll = [&] {
        listed.clear();
        for (const auto& message : client->received()) {
            if (const auto* installed = message.get<Message::InstalledApps>()) {
                listed.insert(listed.end(), installed->page.apps.begin(), installed->page.apps.end());
            }
        }
        return listed.size() >= host.desktop->installed.size();
    };
    host.pumpUntil(listAll, std::chrono::seconds(60));
    ASSERT_EQ(listed.size(), host.desktop->installed.size());
    for (const auto& message : client->received()) {
        if (message.get<Message::InstalledApps>()) {
            EXPECT_LE(message.jsonEncoded()->size(), ChannelFrame::maxPayloadLength);
        }
    }
    const std::vector first(listed.begin(), listed.begin() + 24);
    expectSameEntriesLargestIconsLeftOut(
        first, {host.desktop->installed.begin(), host.desktop->installed.begin() + 24});
    EXPECT_EQ(std::vector(listed.begin() + 24, listed.end()),
              std::vector(host.desktop->installed.begin() + 24, host.desktop->installed.end()))
        << "a page that fits goes as it is";
}

} // namespace
} // namespace velm
