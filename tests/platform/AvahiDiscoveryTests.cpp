#include "platform/discovery/AvahiDiscovery.h"
#include "platform/dispatch/Queue.h"
#include "platform/log/Log.h"
#include "tests/support/EventLog.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velm {

namespace {

using namespace std::chrono_literals;
using PublisherState = ServicePublisher::State;
using BrowserState = ServiceBrowser::State;
using Results = std::vector<ServiceBrowser::Result>;
using Resolved = std::optional<ResolvedService>;

const std::string serviceType = "_velm._tcp";

// Collects what a handler reports and lets the test wait for it.
template <typename T> struct Inbox {
    std::shared_ptr<test::EventLog<T>> log = std::make_shared<test::EventLog<T>>();

    auto handler() const {
        return [log = log](const T& value) { log->push(value); };
    }

    // The first report that satisfies `match`, waiting for it if needed.
    std::optional<T> first(const std::function<bool(const T&)>& match = [](const T&) { return true; }) const {
        std::optional<T> found;
        log->waitFor([&](const std::vector<T>& items) {
            const auto item = std::ranges::find_if(items, match);
            if (item != items.end()) {
                found = *item;
            }
            return found.has_value();
        });
        return found;
    }
};

std::string uniqueName(const std::string& base) {
    static int counter = 0;
    return base + " " + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::optional<ServiceBrowser::Result> findNamed(const Results& results, const std::string& name) {
    auto found = std::ranges::find_if(results, [&](const auto& r) { return r.instance.name == name; });
    return found == results.end() ? std::nullopt : std::optional(*found);
}

// Publishes and waits until the service is on the network, or refused: gives the final state.
std::optional<PublisherState> publish(ServicePublisher& publisher, ServiceAdvert advert) {
    Inbox<PublisherState> states;
    publisher.setOnState(states.handler());
    publisher.publish(std::move(advert));
    return states.first([](const PublisherState& s) {
        return s.kind() == PublisherState::Kind::registered || s.kind() == PublisherState::Kind::failed;
    });
}

// Runs against the daemon that scripts/avahi-sandbox.sh starts in a namespace of its own; never
// against one on a real network.
class AvahiDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VELM_TEST_AVAHI") == nullptr) {
            GTEST_SKIP() << "no sandboxed avahi-daemon; scripts/test.sh starts one when run as root";
        }
    }

    // Publishes and gives the name in use.
    std::string published(ServiceAdvert advert) {
        publishers.push_back(discovery.makePublisher(queue));
        const auto state = publish(*publishers.back(), std::move(advert));
        EXPECT_TRUE(state && state->kind() == PublisherState::Kind::registered)
            << (state ? state->message() : std::string("no answer"));
        return state ? state->name() : std::string();
    }

    std::shared_ptr<Queue> queue = Queue::make("test.discovery");
    AvahiDiscovery discovery;
    std::vector<std::shared_ptr<ServicePublisher>> publishers;
};

TEST_F(AvahiDiscoveryTest, PublishedServiceIsBrowsedWithItsTxtAndResolvedToLoopback) {
    const auto name = uniqueName("Velm Test");
    const TxtRecord txt{{"id", "5C3A-host"}, {"model", "Mac14,2"}, {"modelname", "MacBook Air"}};
    ASSERT_EQ(published({name, serviceType, 40123, txt}), name);

    auto browser = discovery.makeBrowser(queue);
    Inbox<BrowserState> states;
    Inbox<Results> results;
    browser->setOnState(states.handler());
    browser->setOnResults(results.handler());
    browser->start(serviceType);
    ASSERT_TRUE(states.first([](const BrowserState& s) { return s.kind() == BrowserState::Kind::browsing; }));
    auto listed = results.first([&](const Results& r) { return findNamed(r, name).has_value(); });
    ASSERT_TRUE(listed);
    const auto found = *findNamed(*listed, name);
    EXPECT_EQ(std::tuple(found.instance.type, found.instance.domain, found.txt),
              std::tuple(serviceType, "local", txt));
    EXPECT_GT(found.instance.interfaceIndex, 0);

    auto resolver = discovery.makeResolver(queue);
    Inbox<Resolved> resolved;
    resolver->resolve(found.instance, 5s, resolved.handler());
    auto answer = resolved.first();
    ASSERT_TRUE(answer && answer->has_value());
    EXPECT_EQ(std::tuple((*answer)->address, (*answer)->port), std::tuple("127.0.0.1", 40123));
    EXPECT_FALSE((*answer)->hostName.empty());
    EXPECT_NE((*answer)->hostName.back(), '.');

    publishers.back()->withdraw();
    EXPECT_TRUE(results.first([&](const Results& r) { return !findNamed(r, name).has_value(); }));
}

TEST_F(AvahiDiscoveryTest, TakenNameIsReplacedAndReported) {
    const auto name = uniqueName("Velm Twin");
    ASSERT_EQ(published({name, serviceType, 40124, {{"id", "one"}}}), name);
    EXPECT_EQ(published({name, serviceType, 40125, {{"id", "two"}}}), name + " #2");
}

TEST_F(AvahiDiscoveryTest, OverlongNameIsCutOnACharacterBoundary) {
    std::string name = uniqueName("V");
    while (name.size() < 70) {
        name += "\xc3\xa9"; // é, two bytes
    }
    const auto used = published({name, serviceType, 40126, {}});
    EXPECT_LE(used.size(), 63u);
    EXPECT_GE(used.size(), 62u);
    EXPECT_EQ(name.compare(0, used.size(), used), 0);
}

// Avahi takes names as C strings: what follows a NUL never reaches the network, so it is not reported
// as the name in use either.
TEST_F(AvahiDiscoveryTest, NameEndsAtItsFirstNul) {
    const auto name = uniqueName("Velm Nul");
    EXPECT_EQ(published({name + std::string(1, '\0') + "hidden", serviceType, 40127, {}}), name);
}

TEST_F(AvahiDiscoveryTest, UnpublishableAdvertsFail) {
    auto publisher = discovery.makePublisher(queue);
    for (const ServiceAdvert& advert :
         {ServiceAdvert{"", serviceType, 1, {}}, ServiceAdvert{"Bad Txt", serviceType, 1, {{"a=b", "c"}}},
          ServiceAdvert{"Bad Type", "velm", 1, {}}}) {
        const auto state = publish(*publisher, advert);
        EXPECT_TRUE(state && state->kind() == PublisherState::Kind::failed && !state->message().empty())
            << advert.name;
    }
}

// A flood of instances past the limit is ignored, and said once rather than once per instance; once
// room comes free, an instance ignored then is found after all.
TEST_F(AvahiDiscoveryTest, InstancesPastTheLimitAreIgnoredToldOnceAndFoundWhenRoomComesFree) {
    auto floodLines = std::make_shared<test::EventLog<std::string>>();
    struct SinkScope {
        Log::Sink previous;
        ~SinkScope() { Log::setSink(previous); }
    } sink{Log::setSink([floodLines](Log::Level, std::string_view, std::string_view message) {
        if (message.find("more than") != std::string_view::npos) {
            floodLines->push(std::string(message));
        }
    })};

    const std::string type = "_vf" + std::to_string(getpid()) + "._tcp";
    std::vector<std::unique_ptr<ServicePublisher>> flood;
    Inbox<PublisherState> states;
    for (std::size_t i = 0; i < ServiceBrowser::maxInstances + 3; ++i) {
        flood.push_back(discovery.makePublisher(queue));
        flood.back()->setOnState(states.handler());
        flood.back()->publish({"Flood " + std::to_string(i), type, static_cast<std::uint16_t>(1000 + i), {}});
    }
    ASSERT_TRUE(states.log->waitFor([&](const std::vector<PublisherState>& seen) {
        return std::ranges::count_if(seen, [](const auto& s) {
                   return s.kind() == PublisherState::Kind::registered;
               }) == static_cast<std::ptrdiff_t>(flood.size());
    }));

    auto browser = discovery.makeBrowser(queue);
    Inbox<Results> results;
    browser->setOnResults(results.handler());
    browser->start(type);
    const auto full =
        results.first([](const Results& r) { return r.size() == ServiceBrowser::maxInstances; });
    ASSERT_TRUE(full);
    // The daemon tells of a withdrawal after every instance it knew of, so by then all were seen.
    const auto leaving = std::stoul(full->front().instance.name.substr(std::string("Flood ").size()));
    flood.at(leaving).reset();
    EXPECT_TRUE(results.first([](const Results& r) { return r.size() == ServiceBrowser::maxInstances - 1; }));

    std::set<std::string> listed;
    for (const auto& result : *full) {
        listed.insert(result.instance.name);
    }
    const auto refilled = results.first([&](const Results& r) {
        return r.size() == ServiceBrowser::maxInstances && std::ranges::any_of(r, [&](const auto& result) {
                   return !listed.contains(result.instance.name);
               });
    });
    ASSERT_TRUE(refilled) << "an instance ignored during the flood is never found";
    EXPECT_FALSE(std::ranges::any_of(*refilled, [&](const auto& result) {
        return result.instance.name == "Flood " + std::to_string(leaving);
    })) << "the instance that left is listed again";
    EXPECT_EQ(floodLines->values().size(), 1u);
}

TEST_F(AvahiDiscoveryTest, MissingInstanceResolvesToNothingAndCancelledResolutionNeverCompletes) {
    auto resolver = discovery.makeResolver(queue);
    const ServiceInstance nobody{uniqueName("Nobody"), serviceType, "local"};
    Inbox<Resolved> cancelled;
    resolver->resolve(nobody, 100ms, cancelled.handler());
    resolver->cancel();

    Inbox<Resolved> answers;
    auto later = discovery.makeResolver(queue);
    later->resolve(nobody, 300ms, answers.handler());
    auto answer = answers.first();
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->has_value());
    // The cancelled one's limit was earlier on the same queue.
    EXPECT_TRUE(cancelled.log->values().empty());
}

// Makes a publisher, a browser and a resolver and checks that each reports the missing daemon:
// unavailable, waiting, and a resolution that ends with nothing well before its limit. Gives the
// publisher's explanation when all three do.
std::optional<std::string> everythingReportsTheMissingDaemon() {
    auto queue = Queue::make("test.discovery.absent");
    AvahiDiscovery discovery;
    auto publisher = discovery.makePublisher(queue);
    Inbox<PublisherState> published;
    publisher->setOnState(published.handler());
    publisher->publish({"Velm Alone", serviceType, 1, {}});
    auto browser = discovery.makeBrowser(queue);
    Inbox<BrowserState> browsed;
    browser->setOnState(browsed.handler());
    browser->start(serviceType);
    auto resolver = discovery.makeResolver(queue);
    Inbox<Resolved> resolved;
    resolver->resolve({"Velm Alone", serviceType, "local"}, 60s, resolved.handler());

    const auto unavailable = published.first();
    const auto waiting = browsed.first();
    const auto nothing = resolved.first();
    const bool reported = unavailable && unavailable->kind() == PublisherState::Kind::unavailable &&
                          waiting && waiting->kind() == BrowserState::Kind::waiting && nothing &&
                          !nothing->has_value();
    return reported ? std::optional(unavailable->message()) : std::nullopt;
}

// These run in a child process each, since Avahi reads the bus address from the environment.
class AvahiDiscoveryAbsentTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// A daemon that goes away and comes back, with its bus: the publication follows it. Needs a daemon
// of its own, so it starts one the way scripts/test.sh does.
TEST_F(AvahiDiscoveryAbsentTest, PublicationReturnsWithTheDaemon) {
    if (std::getenv("VELM_TEST_AVAHI") == nullptr) {
        GTEST_SKIP() << "no sandboxed avahi-daemon; scripts/test.sh starts one when run as root";
    }
    EXPECT_EXIT(
        {
            char folder[] = "/tmp/velm-avahi-own.XXXXXX";
            if (mkdtemp(folder) == nullptr) {
                std::exit(2);
            }
            const std::string sandbox = std::string(VELM_TEST_DATA_DIR) + "/../../scripts/avahi-sandbox.sh ";
            const std::string start = sandbox + "start " + folder + " >/dev/null";
            const std::string stop = sandbox + "stop " + folder;
            if (std::system(start.c_str()) != 0) {
                std::exit(3);
            }
            setenv("DBUS_SYSTEM_BUS_ADDRESS",
                   ("unix:path=" + std::string(folder) + "/system_bus_socket").c_str(), 1);
            auto queue = Queue::make("test.discovery.phoenix");
            AvahiDiscovery discovery;
            auto publisher = discovery.makePublisher(queue);
            Inbox<PublisherState> states;
            publisher->setOnState(states.handler());
            publisher->publish({"Velm Phoenix", serviceType, 1, {}});
            const auto lastIs = [&](PublisherState::Kind kind) {
                return states.log->waitFor(
                    [kind](const auto& seen) { return !seen.empty() && seen.back().kind() == kind; });
            };
            bool ok = lastIs(PublisherState::Kind::registered);
            ok = ok && std::system(stop.c_str()) == 0 && lastIs(PublisherState::Kind::unavailable);
            ok = ok && std::system(start.c_str()) == 0 && lastIs(PublisherState::Kind::registered);
            publisher.reset();
            std::system(stop.c_str());
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(AvahiDiscoveryAbsentTest, WithoutABusEverythingReportsUnavailability) {
    EXPECT_EXIT(
        {
            setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/velm-no-bus", 1);
            const auto message = everythingReportsTheMissingDaemon();
            std::exit(message == "the system bus is not running, so the Avahi daemon cannot be reached" ? 0
                                                                                                        : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(AvahiDiscoveryAbsentTest, OnABusWithoutTheDaemonEverythingReportsUnavailability) {
    EXPECT_EXIT(
        {
            char folder[] = "/tmp/velm-bus.XXXXXX";
            if (mkdtemp(folder) == nullptr) {
                std::exit(2);
            }
            const std::string socket = std::string(folder) + "/bus";
            const std::string listen = "--address=unix:path=" + socket;
            const pid_t bus = fork();
            if (bus == 0) {
                execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", listen.c_str(),
                       nullptr);
                _exit(127);
            }
            for (int i = 0; i < 500 && access(socket.c_str(), F_OK) != 0; ++i) {
                usleep(10'000);
            }
            setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
            const bool ok = everythingReportsTheMissingDaemon() == "the Avahi daemon is not running";
            kill(bus, SIGTERM);
            waitpid(bus, nullptr, 0);
            unlink(socket.c_str());
            rmdir(folder);
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace velm
