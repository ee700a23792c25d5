#include "platform/dispatch/ManualQueue.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedRouter.h"
#include "transport/away/router/PortMapper.h"

#include <cmath>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::ScriptedRouter;

// Holds the one result of an operation.
template <class T> struct MappingOutcome {
    std::optional<PortMapperResult<T>> result;
    int calls = 0;

    std::function<void(PortMapperResult<T>)> callback() {
        return [this](PortMapperResult<T> value) {
            ++calls;
            result.emplace(std::move(value));
        };
    }
    bool ok() const { return result && result->ok(); }
    PortMapperFailure failure() const { return result->failure(); }
};

class PortMapperTest : public ::testing::Test {
protected:
    // The values of one argument in every request of `action` so far.
    std::vector<std::string> sent(const std::string& action,
                                  const std::string& argument = "NewExternalPort") const {
        std::vector<std::string> values;
        for (const auto& exchange : router->exchanges) {
            if (exchange.action() == action) {
                values.push_back(exchange.argument(argument));
            }
        }
        return values;
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("portmapper");
    std::shared_ptr<ScriptedRouter> router = std::make_shared<ScriptedRouter>();
    PortMapper::Timing timing{3s, 5s, 1200ms};
    std::shared_ptr<PortMapper> mapper = PortMapper::make("Velm & Co", queue, router, timing);
    LogCapture log;
};

TEST_F(PortMapperTest, MappingSendsEveryArgumentInOrder) {
    MappingOutcome<std::monostate> outcome;
    mapper->map(PortMapper::Transport::udp, 40000, 41000, 900s, outcome.callback());
    queue->runUntilIdle();

    ASSERT_TRUE(outcome.ok());
    ASSERT_EQ(router->exchanges.size(), 1u);
    const auto& sent = router->exchanges[0];
    EXPECT_EQ(std::tie(sent.host, sent.port, sent.timeout, sent.sizeLimit),
              std::make_tuple("192.0.2.1", 5000, timing.exchangeLimit, PortMapper::replyLimit));
    EXPECT_EQ(router->searches, std::vector<PortMapper::Clock::duration>{timing.searchLimit});
    EXPECT_NE(sent.request.find("<NewRemoteHost></NewRemoteHost><NewExternalPort>40000</NewExternalPort>"
                                "<NewProtocol>UDP</NewProtocol><NewInternalPort>41000</NewInternalPort>"
                                "<NewInternalClient>192.0.2.20</NewInternalClient><NewEnabled>1</NewEnabled>"
                                "<NewPortMappingDescription>Velm &amp; Co</NewPortMappingDescription>"
                                "<NewLeaseDuration>900</NewLeaseDuration>"),
              std::string::npos);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"portmapper: router found at 192.0.2.1, this computer is 192.0.2.20",
                                        "portmapper: router forwards UDP 40000 to 41000"}));
}

TEST_F(PortMapperTest, LeasesAreWholeSecondsWithinWhatTheRouterTakes) {
    const std::pair<double, std::int64_t> cases[] = {
        {0.4, 1}, {900.9, 900}, {-5, 1}, {std::nan(""), 1}, {HUGE_VAL, 4294967295}, {1e300, 4294967295}};
    for (const auto& [seconds, whole] : cases) {
        EXPECT_EQ(PortMapper::wholeSeconds(PortMapper::Lease(seconds)), whole) << seconds;
    }
}

TEST_F(PortMapperTest, OnlyPermanentLeasesSwitchesThisAndEveryLaterMappingToLeaseZero) {
    router->script("AddPortMapping", ScriptedRouter::fault("725"));
    MappingOutcome<std::monostate> first, later, refused;
    mapper->map(PortMapper::Transport::tcp, 4000, 4000, 0.4s, first.callback());
    queue->runUntilIdle();
    mapper->map(PortMapper::Transport::udp, 5000, 5000, 1500s, later.callback());
    queue->runUntilIdle();
    // A lease of zero that is refused as well is not tried again.
    router->script("AddPortMapping", ScriptedRouter::fault("725"));
    mapper->map(PortMapper::Transport::udp, 4001, 4001, 900s, refused.callback());
    queue->runUntilIdle();

    EXPECT_TRUE(first.ok() && later.ok());
    EXPECT_EQ(refused.failure(), PortMapperFailure::refused(725));
    EXPECT_EQ(sent("AddPortMapping", "NewLeaseDuration"), (std::vector<std::string>{"1", "0", "0", "0"}));
    EXPECT_EQ(sent("AddPortMapping", "NewInternalClient")[1], "192.0.2.20");
    EXPECT_EQ(router->searches.size(), 1u);
}

TEST_F(PortMapperTest, ConflictingPortGivesWayToRandomPortsSixTimesAtMost) {
    MappingOutcome<std::uint16_t> free, moved, crowded, refused;
    mapper->map(PortMapper::Transport::udp, 4000, 900s, free.callback());
    queue->runUntilIdle();
    const auto conflicts = [&](int count) {
        for (int i = 0; i < count; ++i) {
            router->script("AddPortMapping", ScriptedRouter::fault("718"));
        }
    };
    conflicts(2);
    mapper->map(PortMapper::Transport::udp, 4000, 900s, moved.callback());
    queue->runUntilIdle();
    conflicts(6);
    mapper->map(PortMapper::Transport::tcp, 4000, 900s, crowded.callback());
    queue->runUntilIdle();
    // Other refusals end the search for a port at once.
    router->script("AddPortMapping", ScriptedRouter::fault("606"));
    mapper->map(PortMapper::Transport::tcp, 4000, 900s, refused.callback());
    queue->runUntilIdle();

    ASSERT_TRUE(free.ok() && moved.ok());
    EXPECT_EQ(free.result->value(), 4000);
    EXPECT_EQ(crowded.failure(), PortMapperFailure::refused(718));
    EXPECT_EQ(refused.failure(), PortMapperFailure::refused(606));
    const std::vector<std::string> ports = sent("AddPortMapping");
    ASSERT_EQ(ports.size(), 1u + 3u + 6u + 1u);
    EXPECT_EQ(ports[3], std::to_string(moved.result->value()));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const bool asked = i == 0 || i == 1 || i == 4 || i == 10, random = std::stoi(ports[i]) >= 20000;
        EXPECT_TRUE(asked ? ports[i] == "4000" : random && std::stoi(ports[i]) < 48000)
            << i << " " << ports[i];
    }
    EXPECT_EQ(sent("AddPortMapping", "NewInternalPort"), std::vector<std::string>(ports.size(), "4000"));
    // Refusals come from a router that answers: it stays remembered.
    EXPECT_EQ(router->searches.size(), 1u);
}

TEST_F(PortMapperTest, BusyRouterIsAskedAgainAfterEachPauseUpToSixTimes) {
    for (int i = 0; i < 5; ++i) {
        router->script("GetExternalIPAddress", ScriptedRouter::fault("501"));
    }
    MappingOutcome<std::string> outcome;
    mapper->externalAddress(outcome.callback());
    queue->runUntilIdle();
    EXPECT_EQ(router->exchanges.size(), 1u);
    for (std::size_t tries = 2; tries <= 6; ++tries) {
        queue->advance(1199ms);
        EXPECT_EQ(router->exchanges.size(), tries - 1);
        queue->advance(1ms);
        EXPECT_EQ(router->exchanges.size(), tries);
    }
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.result->value(), "203.0.113.7");

    for (int i = 0; i < 7; ++i) {
        router->script("DeletePortMapping", ScriptedRouter::fault("501"));
    }
    MappingOutcome<std::string> busy;
    mapper->soap("DeletePortMapping", {}, busy.callback());
    queue->advance(1h);
    EXPECT_EQ(busy.failure(), PortMapperFailure::refused(501));
    EXPECT_EQ(sent("DeletePortMapping").size(), 6u);
}

TEST_F(PortMapperTest, ErrorCodeDecidesBeforeTheStatus) {
    router->script("A", ScriptedRouter::fault("501", 500));
    router->script("B", ScriptedRouter::fault("714", 200));
    router->script("C", HttpResponse{500, toBytes("<s:Fault>no code</s:Fault>")});
    router->script("D", ScriptedRouter::fault("+402", 500));
    router->script("E", ScriptedRouter::fault("7x", 200));
    router->script("F", ScriptedRouter::fault("99999999999999999999", 500));
    std::map<std::string, MappingOutcome<std::string>> outcomes;
    for (const char* action : {"A", "B", "C", "D", "E", "F"}) {
        mapper->soap(action, {}, outcomes[action].callback());
    }
    queue->advance(10s);
    EXPECT_TRUE(outcomes["A"].ok()) << "501 is retried and then succeeds";
    EXPECT_EQ(outcomes["B"].failure(), PortMapperFailure::refused(714));
    EXPECT_EQ(outcomes["C"].failure(), PortMapperFailure::badResponse());
    EXPECT_EQ(outcomes["D"].failure(), PortMapperFailure::refused(402));
    EXPECT_TRUE(outcomes["E"].ok()) << "a code that is not a number leaves the status to decide";
    EXPECT_EQ(outcomes["F"].failure(), PortMapperFailure::badResponse());
}

TEST_F(PortMapperTest, ActionsReachTheRouterOneAtATimeInOrder) {
    router->hold();
    router->script("First", PortMapperFailure::network(std::make_error_code(std::errc::connection_reset)));
    MappingOutcome<std::string> first, second, third;
    for (auto [action, outcome] : {std::pair("First", &first), {"Second", &second}, {"Third", &third}}) {
        mapper->soap(action, {}, outcome->callback());
    }
    queue->runUntilIdle();
    std::vector<std::string> order;
    for (std::size_t answered = 0; answered < 3; ++answered) {
        ASSERT_EQ(router->exchanges.size(), answered + 1) << "one action at a time";
        order.push_back(router->exchanges.back().action());
        router->answerHeld();
        queue->runUntilIdle();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"First", "Second", "Third"}));
    EXPECT_EQ(first.failure().kind(), PortMapperFailure::Kind::network);
    EXPECT_TRUE(second.ok() && third.ok());
}

TEST_F(PortMapperTest, RouterIsRememberedUntilAnExchangeFails) {
    MappingOutcome<std::string> one, two;
    mapper->externalAddress(one.callback());
    mapper->externalAddress(two.callback());
    queue->runUntilIdle();
    EXPECT_TRUE(one.ok() && two.ok());
    EXPECT_EQ(router->searches.size(), 1u);

    router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
    MappingOutcome<std::string> timedOut;
    mapper->externalAddress(timedOut.callback());
    queue->runUntilIdle();
    EXPECT_EQ(timedOut.failure(), PortMapperFailure::noGateway());

    MappingOutcome<PortMapperGateway> found;
    mapper->currentGateway(found.callback());
    queue->runUntilIdle();
    EXPECT_EQ(router->searches.size(), 2u);

    mapper->forgetGateway();
    mapper->currentGateway(found.callback());
    queue->runUntilIdle();
    EXPECT_EQ(router->searches.size(), 3u);
    EXPECT_EQ(found.result->value(), ScriptedRouter::standardGateway());
}

TEST_F(PortMapperTest, ExternalAddressMustBePresentAndNotEmpty) {
    for (const char* body : {"", "<NewExternalIPAddress> </NewExternalIPAddress>"}) {
        router->script("GetExternalIPAddress", ScriptedRouter::success("GetExternalIPAddress", body));
        MappingOutcome<std::string> outcome;
        mapper->externalAddress(outcome.callback());
        queue->runUntilIdle();
        EXPECT_EQ(outcome.failure(), PortMapperFailure::badResponse()) << body;
    }
}

TEST_F(PortMapperTest, UnmapLogsFirstAndSwallowsEveryFailure) {
    router->scriptSearch(PortMapperFailure::noGateway());
    bool done = false;
    mapper->unmap(PortMapper::Transport::udp, 4000, [&](bool) { done = true; });
    queue->runUntilIdle();
    EXPECT_TRUE(done);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"portmapper: router stops forwarding UDP 4000"});
    EXPECT_TRUE(router->exchanges.empty());

    mapper->unmap(PortMapper::Transport::tcp, 4000);
    queue->runUntilIdle();
    ASSERT_EQ(router->exchanges.size(), 1u);
    EXPECT_EQ(router->exchanges[0].argument("NewProtocol"), "TCP");
    EXPECT_EQ(router->exchanges[0].argument("NewExternalPort"), "4000");
}

TEST_F(PortMapperTest, NothingIsCalledBackOnceTheMapperIsGone) {
    router->hold();
    MappingOutcome<std::string> outcome;
    mapper->externalAddress(outcome.callback());
    queue->runUntilIdle();
    mapper.reset();
    router->answerHeld();
    queue->runUntilIdle();
    EXPECT_EQ(outcome.calls, 0);
}

TEST(PortMapperAddressTest, PublicAddressesAreCanonicalAndOutsideReservedRanges) {
    for (const char* address : {"203.0.113.7", "100.128.0.1", "172.32.0.1", "8.8.8.8", "223.255.255.255",
                                "169.253.0.1", "192.169.0.1", "100.63.255.255"}) {
        EXPECT_TRUE(PortMapper::isPublicAddress(address)) << address;
    }
    for (const char* address :
         {"100.64.1.1", "172.16.5.4", "172.31.0.1", "169.254.1.1", "224.0.0.1", "255.255.255.255", "0.1.2.3",
          "10.0.0.1", "127.0.0.1", "192.168.1.1", "1.2.3", "1..2.3.4", "1.2.3.4.", "01.2.3.4", " 1.2.3.4",
          "1.2.3.4 ", "8.8.8.256", "", "::ffff:8.8.8.8"}) {
        EXPECT_FALSE(PortMapper::isPublicAddress(address)) << address;
    }
    EXPECT_FALSE(PortMapper::isPublicAddress(std::string_view("8.8.8.8\0", 8)));
}

} // namespace
} // namespace velm
