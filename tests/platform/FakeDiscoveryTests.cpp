#include "platform/dispatch/ManualQueue.h"
#include "tests/support/FakeDiscovery.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velm::test {
namespace {

using namespace std::chrono_literals;
using PublisherState = ServicePublisher::State;
using BrowserState = ServiceBrowser::State;
using Results = std::vector<ServiceBrowser::Result>;

const std::string type = "_velm._tcp";

class FakeDiscoveryTest : public ::testing::Test {
protected:
    std::vector<std::string> publishedNames(ServicePublisher& publisher, ServiceAdvert advert) {
        auto names = std::make_shared<std::vector<std::string>>();
        publisher.publish(std::move(advert), [names](const PublisherState& s) {
            if (s.kind() == PublisherState::Kind::registered) {
                names->push_back(s.name());
            }
        });
        queue->runUntilIdle();
        return *names;
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
    FakeDiscovery discovery;
    std::vector<PublisherState> publisherStates;
    std::vector<BrowserState> browserStates;
    std::vector<Results> results;
};

TEST_F(FakeDiscoveryTest, PublishedServicesAreBrowsedAndTakenNamesReplaced) {
    auto browser = discovery.makeBrowser(queue);
    browser->start(
        type, [this](const BrowserState& s) { browserStates.push_back(s); },
        [this](const Results& r) { results.push_back(r); });
    auto first = discovery.makePublisher(queue);
    auto second = discovery.makePublisher(queue);
    EXPECT_EQ(publishedNames(*first, {"Office", type, 1000, {{"id", "a"}}}), std::vector<std::string>{"Office"});
    EXPECT_EQ(publishedNames(*second, {"Office", type, 1001, {{"id", "b"}}}), std::vector<std::string>{"Office #2"});

    ASSERT_FALSE(results.empty());
    ASSERT_EQ(results.back().size(), 2u);
    EXPECT_EQ(results.back()[1].instance.name, "Office #2");
    EXPECT_EQ(results.back()[1].txt, (TxtRecord{{"id", "b"}}));
    EXPECT_EQ(browserStates, std::vector{BrowserState::browsing()});

    first->withdraw();
    queue->runUntilIdle();
    ASSERT_EQ(results.back().size(), 1u);
    EXPECT_EQ(results.back()[0].instance.name, "Office #2");
}

TEST_F(FakeDiscoveryTest, LostDaemonIsReportedAndEverythingResumesWhenItReturns) {
    auto publisher = discovery.makePublisher(queue);
    publisher->publish({"Office", type, 1000, {}}, [this](const PublisherState& s) { publisherStates.push_back(s); });
    auto browser = discovery.makeBrowser(queue);
    browser->start(
        type, [this](const BrowserState& s) { browserStates.push_back(s); },
        [this](const Results& r) { results.push_back(r); });
    queue->runUntilIdle();

    discovery.setReachable(false);
    auto resolver = discovery.makeResolver(queue);
    std::vector<std::optional<ResolvedService>> answers;
    resolver->resolve({"Office", type, "local"}, 4s, [&](auto r) { answers.push_back(r); });
    queue->runUntilIdle();
    EXPECT_EQ(publisherStates.back(), PublisherState::unavailable("Daemon not running"));
    EXPECT_EQ(browserStates.back().kind(), BrowserState::Kind::waiting);
    EXPECT_TRUE(results.back().empty());
    EXPECT_EQ(answers, std::vector<std::optional<ResolvedService>>{std::nullopt});

    discovery.setReachable(true);
    queue->runUntilIdle();
    EXPECT_EQ(publisherStates.back(), PublisherState::registered("Office"));
    EXPECT_EQ(browserStates.back(), BrowserState::browsing());
    EXPECT_EQ(results.back().size(), 1u);
}

TEST_F(FakeDiscoveryTest, ResolutionsAnswerAtOnceTimeOutOrStayCancelled) {
    discovery.addRemote({"Study", type, 2000, {}}, std::nullopt);
    auto resolver = discovery.makeResolver(queue);
    std::vector<std::optional<ResolvedService>> answers;
    auto keep = [&](std::optional<ResolvedService> r) { answers.push_back(r); };

    resolver->resolve({"Study", type, "local"}, 4s, keep);
    queue->runUntilIdle();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], (ResolvedService{FakeDiscovery::hostName, FakeDiscovery::address, 2000, 1}));

    resolver->resolve({"Gone", type, "local"}, 4s, keep);
    queue->advance(3900ms);
    EXPECT_EQ(answers.size(), 1u);
    queue->advance(100ms);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1], std::nullopt);

    resolver->resolve({"Gone", type, "local"}, 4s, keep);
    resolver->cancel();
    resolver->resolve({"Study", type, "local"}, 4s, keep);
    resolver->resolve({"Gone", type, "local"}, 1s, keep);  // replaces the one before, unanswered
    queue->advance(10s);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[2], std::nullopt);
}

} // namespace
} // namespace velm::test
