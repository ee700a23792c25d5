#include "platform/discovery/AvahiDiscovery.h"
#include "platform/dispatch/Queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velm {

namespace {

using namespace std::chrono_literals;

constexpr auto limit = 15s;
const std::string serviceType = "_velm._tcp";

// Collects what arrives on a queue and lets the test wait, within a limit, for what it expects.
template <typename T>
class Inbox {
public:
    void push(T value) {
        std::lock_guard guard(lock_);
        items_.push_back(std::move(value));
        changed_.notify_all();
    }

    // The first item that satisfies `match`, waiting for it if needed.
    template <typename Match>
    std::optional<T> waitFor(Match match) {
        std::unique_lock guard(lock_);
        std::optional<T> found;
        changed_.wait_for(guard, limit, [&] {
            auto item = std::find_if(items_.begin(), items_.end(), match);
            if (item != items_.end()) {
                found = *item;
            }
            return found.has_value();
        });
        return found;
    }

    // Waits until the whole list so far satisfies `condition`.
    template <typename Condition>
    bool waitUntil(Condition condition) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return condition(items_); });
    }

    std::vector<T> items() {
        std::lock_guard guard(lock_);
        return items_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<T> items_;
};

using PublisherState = ServicePublisher::State;
using BrowserState = ServiceBrowser::State;
using Results = std::vector<ServiceBrowser::Result>;

std::string uniqueName(const std::string& base) {
    static int counter = 0;
    return base + " " + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::optional<ServiceBrowser::Result> findNamed(const Results& results, const std::string& name) {
    auto found = std::find_if(results.begin(), results.end(), [&](const auto& r) { return r.instance.name == name; });
    return found == results.end() ? std::nullopt : std::optional(*found);
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

    // Publishes and waits until the service is on the network; gives the name in use.
    std::string publish(ServicePublisher& publisher, ServiceAdvert advert) {
        auto states = std::make_shared<Inbox<PublisherState>>();
        publisher.publish(std::move(advert), [states](const PublisherState& s) { states->push(s); });
        auto done = states->waitFor([](const PublisherState& s) {
            return s.kind() == PublisherState::Kind::registered || s.kind() == PublisherState::Kind::failed;
        });
        EXPECT_TRUE(done && done->kind() == PublisherState::Kind::registered)
            << (done ? done->message() : std::string("no answer"));
        return done ? done->name() : std::string();
    }

    std::shared_ptr<Queue> queue = Queue::make("test.discovery");
    AvahiDiscovery discovery;
};

TEST_F(AvahiDiscoveryTest, PublishedServiceIsBrowsedWithItsTxtAndResolvedToLoopback) {
    const auto name = uniqueName("Velm Test");
    const TxtRecord txt{{"id", "5C3A-host"}, {"model", "Mac14,2"}, {"modelname", "MacBook Air"}};
    auto publisher = discovery.makePublisher(queue);
    ASSERT_EQ(publish(*publisher, {name, serviceType, 40123, txt}), name);

    auto browser = discovery.makeBrowser(queue);
    auto states = std::make_shared<Inbox<BrowserState>>();
    auto results = std::make_shared<Inbox<Results>>();
    browser->start(
        serviceType, [states](const BrowserState& s) { states->push(s); },
        [results](const Results& r) { results->push(r); });
    ASSERT_TRUE(states->waitFor([](const BrowserState& s) { return s.kind() == BrowserState::Kind::browsing; }));
    auto listed = results->waitFor([&](const Results& r) { return findNamed(r, name).has_value(); });
    ASSERT_TRUE(listed);
    const auto found = *findNamed(*listed, name);
    EXPECT_EQ(found.instance.type, serviceType);
    EXPECT_EQ(found.instance.domain, "local");
    EXPECT_GT(found.instance.interfaceIndex, 0);
    EXPECT_EQ(found.txt, txt);

    auto resolver = discovery.makeResolver(queue);
    auto resolved = std::make_shared<Inbox<std::optional<ResolvedService>>>();
    resolver->resolve(found.instance, 5s, [resolved](std::optional<ResolvedService> r) { resolved->push(r); });
    auto answer = resolved->waitFor([](const auto&) { return true; });
    ASSERT_TRUE(answer && answer->has_value());
    EXPECT_EQ((*answer)->address, "127.0.0.1");
    EXPECT_EQ((*answer)->port, 40123);
    EXPECT_FALSE((*answer)->hostName.empty());
    EXPECT_NE((*answer)->hostName.back(), '.');

    publisher->withdraw();
    EXPECT_TRUE(results->waitFor([&](const Results& r) { return !findNamed(r, name).has_value(); }));
}

TEST_F(AvahiDiscoveryTest, TakenNameIsReplacedAndReported) {
    const auto name = uniqueName("Velm Twin");
    auto first = discovery.makePublisher(queue);
    auto second = discovery.makePublisher(queue);
    ASSERT_EQ(publish(*first, {name, serviceType, 40124, {{"id", "one"}}}), name);
    EXPECT_EQ(publish(*second, {name, serviceType, 40125, {{"id", "two"}}}), name + " #2");
}

TEST_F(AvahiDiscoveryTest, OverlongNameIsCutOnACharacterBoundary) {
    std::string name = uniqueName("V");
    while (name.size() < 70) {
        name += "\xc3\xa9";  // é, two bytes
    }
    auto publisher = discovery.makePublisher(queue);
    const auto used = publish(*publisher, {name, serviceType, 40126, {}});
    EXPECT_LE(used.size(), 63u);
    EXPECT_GE(used.size(), 62u);
    EXPECT_EQ(name.compare(0, used.size(), used), 0);
}

TEST_F(AvahiDiscoveryTest, UnpublishableAdvertsFail) {
    auto publisher = discovery.makePublisher(queue);
    for (const ServiceAdvert& advert : {ServiceAdvert{"", serviceType, 1, {}},
                                        ServiceAdvert{"Bad Txt", serviceType, 1, {{"a=b", "c"}}},
                                        ServiceAdvert{"Bad Type", "velm", 1, {}}}) {
        auto states = std::make_shared<Inbox<PublisherState>>();
        publisher->publish(advert, [states](const PublisherState& s) { states->push(s); });
        auto failed = states->waitFor([](const PublisherState& s) { return s.kind() == PublisherState::Kind::failed; });
        EXPECT_TRUE(failed) << advert.name;
        EXPECT_TRUE(failed && !failed->message().empty());
    }
}

TEST_F(AvahiDiscoveryTest, MissingInstanceResolvesToNothingAndCancelledResolutionNeverCompletes) {
    auto resolver = discovery.makeResolver(queue);
    const ServiceInstance nobody{uniqueName("Nobody"), serviceType, "local"};
    auto cancelled = std::make_shared<Inbox<std::optional<ResolvedService>>>();
    resolver->resolve(nobody, 100ms, [cancelled](std::optional<ResolvedService> r) { cancelled->push(r); });
    resolver->cancel();

    auto answers = std::make_shared<Inbox<std::optional<ResolvedService>>>();
    auto later = discovery.makeResolver(queue);
    later->resolve(nobody, 300ms, [answers](std::optional<ResolvedService> r) { answers->push(r); });
    auto answer = answers->waitFor([](const auto&) { return true; });
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->has_value());
    // The cancelled one's limit was earlier on the same queue.
    EXPECT_TRUE(cancelled->items().empty());
}

// Makes a publisher, a browser and a resolver and checks that each reports the missing daemon:
// unavailable, waiting, and a resolution that ends with nothing well before its limit. Gives the
// publisher's explanation when all three do.
std::optional<std::string> everythingReportsTheMissingDaemon() {
    auto queue = Queue::make("test.discovery.absent");
    AvahiDiscovery discovery;
    auto publisher = discovery.makePublisher(queue);
    auto published = std::make_shared<Inbox<PublisherState>>();
    publisher->publish({"Velm Alone", serviceType, 1, {}}, [published](const PublisherState& s) { published->push(s); });
    auto browser = discovery.makeBrowser(queue);
    auto browsed = std::make_shared<Inbox<BrowserState>>();
    browser->start(
        serviceType, [browsed](const BrowserState& s) { browsed->push(s); }, [](const Results&) {});
    auto resolver = discovery.makeResolver(queue);
    auto resolved = std::make_shared<Inbox<std::optional<ResolvedService>>>();
    resolver->resolve({"Velm Alone", serviceType, "local"}, 60s,
                      [resolved](std::optional<ResolvedService> r) { resolved->push(r); });

    auto unavailable = published->waitFor([](const PublisherState&) { return true; });
    auto waiting = browsed->waitFor([](const BrowserState&) { return true; });
    auto nothing = resolved->waitFor([](const auto&) { return true; });
    const bool reported = unavailable && unavailable->kind() == PublisherState::Kind::unavailable && waiting &&
                          waiting->kind() == BrowserState::Kind::waiting && nothing && !nothing->has_value();
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
            setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + std::string(folder) + "/system_bus_socket").c_str(), 1);
            auto queue = Queue::make("test.discovery.phoenix");
            AvahiDiscovery discovery;
            auto publisher = discovery.makePublisher(queue);
            auto states = std::make_shared<Inbox<PublisherState>>();
            publisher->publish({"Velm Phoenix", serviceType, 1, {}}, [states](const PublisherState& s) { states->push(s); });
            using Kind = PublisherState::Kind;
            auto lastIs = [](Kind kind) {
                return [kind](const std::vector<PublisherState>& seen) {
                    return !seen.empty() && seen.back().kind() == kind;
                };
            };
            bool ok = states->waitUntil(lastIs(Kind::registered));
            ok = ok && std::system(stop.c_str()) == 0 && states->waitUntil(lastIs(Kind::unavailable));
            ok = ok && std::system(start.c_str()) == 0 && states->waitUntil(lastIs(Kind::registered));
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
            std::exit(message && !message->empty() ? 0 : 1);
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
                execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", listen.c_str(), nullptr);
                _exit(127);
            }
            for (int i = 0; i < 500 && access(socket.c_str(), F_OK) != 0; ++i) {
                usleep(10'000);
            }
            setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
            const bool ok = everythingReportsTheMissingDaemon() == "Daemon not running";
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
