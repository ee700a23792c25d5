#include "Velm_Host/curtain/DesktopCurtain.h"
#include "platform/net/TlsListener.h"
#include "platform/store/DefaultsStore.h"
#include "tests/host/curtain/FakeCurtainParts.h"
#include "tests/host/model/ModelHarness.h"
#include "tests/support/Blocking.h"
#include "transport/channel/VelmService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::isMessage;
using ::testing::ElementsAre;
using Kind = HostListener::State::Kind;
using Ending = ConnectionRecord::Ending;

class HostModelTest : public ::testing::Test {
protected:
    // A listener standing in for away access's session listener: it hands each channel to the model
    // with `ticket`, as one that came through the door.
    std::shared_ptr<TlsListener> awaySessionListener() {
        const auto listener = TlsListener::make(
            VelmService::tlsParameters({PreSharedKey::forAway(awaySessionKey)}), std::nullopt);
        auto ready = std::make_shared<test::EventLog<TlsListener::State>>();
        listener->setOnState([ready](TlsListener::State state, const auto&) { ready->push(state); });
        listener->setOnConnection([away = host.away, ticket = awayTicket](auto connection) {
            away->onConnection(ControlChannel::accepted(std::move(connection)), ticket);
        });
        listener->start(Queue::make("away session listener"));
        ready->waitForCount(1);
        return listener;
    }

    // A main session of the device through `listener`, running once the router forwarded its video.
    // The model with a curtain over one screen, and "ipad" in a session that asks for it.
    std::unique_ptr<test::TestClient> curtainedSession(test::FakeCurtainParts& curtain) {
        curtain.screens->list = {test::FakeCurtainParts::screen(1, true, std::nullopt)};
        host.curtain = std::make_shared<DesktopCurtain>(Curtain::make(curtain.parts(), host.queue));
        host.model = host.makeModel();
        host.start();
        const auto key = host.pairDevice("ipad");
        host.model->setDevicePolicy("ipad", std::nullopt, true);
        return host.connect("ipad", key);
    }

    struct AwayVisit {
        SecretBytes key;
        std::shared_ptr<TlsListener> listener;
        std::unique_ptr<test::TestClient> session;
    };

    // The model started with away access on, and "ipad" paired and in a session from away.
    AwayVisit ipadVisitingFromAway() {
        host.start();
        host.model->setAllowAwayAccess(true);
        AwayVisit visit{host.pairDevice("ipad"), awaySessionListener(), nullptr};
        visit.session = awaySession(*visit.listener, "ipad", visit.key);
        return visit;
    }

    // `meanwhile` runs while the router is still forwarding the session's video port.
    std::unique_ptr<test::TestClient> awaySession(const TlsListener& listener, const std::string& deviceID,
                                                  const SecretBytes& key,
                                                  const std::function<void()>& meanwhile = {}) {
        auto client = std::make_unique<test::TestClient>(Endpoint::hostPort("127.0.0.1", listener.port()),
                                                         PreSharedKey::forAway(awaySessionKey));
        if (!host.pumpUntil([&] { return client->hasSeen<ControlChannel::Event::Ready>(); })) {
            return nullptr;
        }
        auto hello = client->hello(deviceID, key.view());
        hello.understandsPolicy = true;
        client->send(ControlMessage::hello(hello));
        if (!host.pumpUntil([&] { return host.away->forwardDone != nullptr; })) {
            return nullptr;
        }
        if (meanwhile) {
            meanwhile();
        }
        std::thread([done = std::exchange(host.away->forwardDone, nullptr)] { done(40123); }).join();
        const bool running = host.pumpUntil([&] {
            const auto& connected = host.model->state().connected;
            return connected && connected->isAway && client->hostHello().has_value();
        });
        return running ? std::move(client) : nullptr;
    }

    test::ModelHarness host;
    const Bytes awaySessionKey = Bytes(32, 7);
    const AwayTicket awayTicket{.knockID = {9, 9}, .connection = 1};
};

TEST_F(HostModelTest, StartsFromItsFoldersAndKeepsWhatItLearned) {
    host.start();
    const auto port = host.model->state().listenerState.port();
    ASSERT_EQ(host.discovery->published().size(), 1u);
    EXPECT_EQ(std::pair(host.discovery->published()[0].name, host.discovery->published()[0].port),
              std::pair(std::string("Test host"), port));
    EXPECT_EQ(host.readinessReads, 1);
    // Away access hears start-up and the registry's first report: off, with no devices.
    const auto offWithNoDevices = std::pair(false, std::vector<std::string>{});
    EXPECT_EQ(host.away->enables, std::vector(2, offWithNoDevices));

    DefaultsStore stored(host.folder / "config");
    const auto hostID = stored.stringValue(HostSettings::hostIDKey);
    ASSERT_TRUE(hostID && Uuid::parse(*hostID));
    EXPECT_EQ(stored.integerValue(HostSettings::listenPortKey), port);
    // A second run is the same host on the same port.
    host.model = host.makeModel();
    EXPECT_EQ(DefaultsStore(host.folder / "config").stringValue(HostSettings::hostIDKey), hostID);
}

// An identifier no advertisement can carry (edited by hand, or damaged) would keep the host from being
// found for good: it is made afresh.
TEST_F(HostModelTest, AStoredHostIdentifierThatNoAdvertCanCarryIsMadeAfresh) {
    ASSERT_TRUE(
        DefaultsStore(host.folder / "config").setString(HostSettings::hostIDKey, std::string(300, 'x')));
    host.model = host.makeModel();
    host.start();
    const auto hostID = DefaultsStore(host.folder / "config").stringValue(HostSettings::hostIDKey);
    ASSERT_TRUE(hostID && Uuid::parse(*hostID));
    EXPECT_EQ(host.model->state().listenerState.kind(), HostListener::State::Kind::advertising);
}

TEST_F(HostModelTest, SettersPersistAndTakeEffect) {
    host.start();
    const auto key = host.pairDevice("ipad");
    auto client = host.connect("ipad", key);
    ASSERT_TRUE(client);

    host.model->setAllowRemoteAccess(false);
    ASSERT_TRUE(host.pumpUntil([&] { return host.model->state().listenerState.kind() == Kind::stopped; }));
    ASSERT_TRUE(host.pumpUntil([&] { return client->bye().has_value(); }));
    EXPECT_EQ(client->bye(), ByeReason::remoteAccessDisabled);
    EXPECT_TRUE(host.discovery->published().empty());

    host.model->setAllowAwayAccess(true);
    host.model->setAwayAccessDays(7);
    host.model->setAllowsAwayWithoutDeviceKey(false);
    const auto device = *host.model->registry()->device("ipad");
    EXPECT_EQ(host.model->registry()->awayExpiry(device),
              Date(device.lastAtHome.value_or(device.pairedAt).secondsSinceReferenceDate() + 7 * 86'400));
    EXPECT_FALSE(host.model->registry()->allowsAwayWithoutDeviceKey());
    // Away access is on only while remote access is too.
    EXPECT_EQ(host.away->enables.back(), std::pair(false, std::vector<std::string>{"ipad"}));
    host.model->setAllowRemoteAccess(true);
    EXPECT_EQ(host.away->enables.back(), std::pair(true, std::vector<std::string>{"ipad"}));

    // Any other number of days reads as 30.
    host.model->setAwayAccessDays(5);
    EXPECT_EQ(host.model->state().awayAccessDays, 30);
    host.model = host.makeModel();
    const auto& state = host.model->state();
    EXPECT_EQ(std::tuple(state.allowRemoteAccess, state.allowAwayAccess, state.awayAccessDays,
                         state.allowsAwayWithoutDeviceKey),
              std::tuple(true, true, 30, false));
}

// A setting changed before start-up is what start-up applies, once.
TEST_F(HostModelTest, SetterBeforeStartIsAppliedOnce) {
    host.model->setAllowRemoteAccess(false);
    host.model->setAllowAwayAccess(true);
    host.model->start();
    host.queue->runUntilIdle();
    EXPECT_EQ(host.model->state().listenerState.kind(), Kind::stopped);
    EXPECT_TRUE(host.discovery->published().empty());
    EXPECT_EQ(host.away->enables, std::vector(2, std::pair(false, std::vector<std::string>{})));
    host.model->setAllowRemoteAccess(true);
    EXPECT_TRUE(
        host.pumpUntil([&] { return host.model->state().listenerState.kind() == Kind::advertising; }));
    EXPECT_EQ(host.away->enables.back(), std::pair(true, std::vector<std::string>{}));
}

// Each refresh reaches away access, also one that brings nothing new: away access then builds its keyring
// afresh and, while on, looks at its doors and the router at once.
TEST_F(HostModelTest, AwayAccessHearsEveryRefreshAlsoWithoutNews) {
    host.start();
    host.model->setAllowAwayAccess(true);
    host.pairDevice("ipad");
    const auto heard = host.away->enables;
    host.model->registry()->update("ipad", [](PairedDevice& device) { device.name = "Kitchen iPad"; });
    host.queue->runUntilIdle();
    host.model->setAwayAccessDays(host.model->state().awayAccessDays);
    ASSERT_EQ(host.away->enables.size(), heard.size() + 2);
    EXPECT_EQ(host.away->enables.back(), heard.back());
    EXPECT_EQ(host.away->enables.back(), std::pair(true, std::vector<std::string>{"ipad"}));
}

TEST_F(HostModelTest, RefusesWithoutAWordWhatItMayNotAdmit) {
    host.start();
    const auto key = host.pairDevice("ipad");
    // A channel from away while away access is off is cancelled and its ticket handed back.
    const HostAwayAccess::Ticket ticket{.knockID = {1, 2, 3}, .connection = 4};
    host.away->onConnection(
        ControlChannel::outgoing(Endpoint::hostPort("127.0.0.1", 9), *PreSharedKey::forDevice("ipad", key)),
        ticket);
    host.queue->runUntilIdle();
    EXPECT_EQ(host.away->ended, std::vector{ticket});
    EXPECT_EQ(host.model->session(), nullptr);

    // A connection that arrives after remote access was switched off meets no session.
    host.queue->runUntilIdle();
    const auto quiet = host.queue->pendingCount();
    test::TestClient client(host.endpoint(), *PreSharedKey::forDevice("ipad", key));
    ASSERT_TRUE(Blocking::waitUntil([&] { return host.queue->pendingCount() > quiet; }));
    host.model->setAllowRemoteAccess(false);
    ASSERT_TRUE(host.pumpUntil([&] { return client.hasSeen<ControlChannel::Event::Closed>(); }));
    EXPECT_FALSE(client.bye());
    EXPECT_TRUE(host.model->history()->log().records.empty());
}

// Switching remote access off ends every connection already let in, also one whose hello comes after
// the switch: a device must not get a session once the user said no.
TEST_F(HostModelTest, SwitchingRemoteAccessOffEndsConnectionsOnTheirWayIn) {
    host.start();
    const auto key = host.pairDevice("ipad");
    const auto client = host.readyClient("ipad", key);
    ASSERT_TRUE(client);
    host.model->setAllowRemoteAccess(false);
    client->send(ControlMessage::hello(client->hello("ipad", key.view())));

    // Sent away; or, when the listener let go of the connection before the model took it, closed
    // without a word. Either way no session.
    ASSERT_TRUE(host.pumpUntil(
        [&] { return client->bye().has_value() || client->hasSeen<ControlChannel::Event::Closed>(); }));
    EXPECT_EQ(client->bye().value_or(ByeReason::remoteAccessDisabled), ByeReason::remoteAccessDisabled);
    host.queue->runUntilIdle();
    EXPECT_FALSE(client->hasReceived(isMessage<ControlMessage::HelloAck>));
    EXPECT_FALSE(host.model->state().connected);
    EXPECT_EQ(host.model->session(), nullptr);
}

// Wrong codes are told with the tries left, the last one before the window closes over it.
TEST_F(HostModelTest, TellsWrongPairingCodesBeforeTheWindowCloses) {
    std::vector<HostNotice> notices;
    host.model->setOnNotice([&](const HostNotice& notice) { notices.push_back(notice); });
    // How many notices were out when the window closed, and the listener's starts.
    std::vector<std::size_t> closings;
    bool open = false;
    int starts = 0;
    host.model->setOnChange([&] {
        if (std::exchange(open, host.model->state().pairingWindow.has_value()) && !open) {
            closings.push_back(notices.size());
        }
        starts += host.model->state().listenerState.kind() == Kind::starting ? 1 : 0;
    });
    host.start();
    host.queue->runUntilIdle();
    // The window reaches the listener as new keys, without a start: the code's key is lent to each
    // handshake.
    starts = 0;
    host.model->registry()->openPairing("123456", std::nullopt, 2, false);
    host.queue->runUntilIdle();
    for (std::size_t guesses = 1; guesses <= 2; ++guesses) {
        test::TestClient guess(host.endpoint(), PreSharedKey::fromSecret("654321"));
        ASSERT_TRUE(host.pumpUntil([&] { return notices.size() == guesses; }));
    }
    host.queue->runUntilIdle();
    EXPECT_EQ(closings, std::vector<std::size_t>{2});
    EXPECT_EQ(notices,
              (std::vector<HostNotice>{HostNotice::WrongPairingCode{1}, HostNotice::WrongPairingCode{0}}));
    EXPECT_EQ(starts, 0);
}

TEST_F(HostModelTest, NewSessionOfADeviceReplacesTheCurrentOne) {
    host.start();
    const auto key = host.pairDevice("ipad");
    auto first = host.connect("ipad", key);
    auto second = host.connect("ipad", key);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(host.pumpUntil([&] {
        return host.model->history()->log().records.size() == 2 &&
               !host.model->history()->log().records[1].isOpen() && first->bye().has_value();
    }));
    EXPECT_EQ(first->bye(), ByeReason::replacedByNewSession);
    EXPECT_EQ(host.model->history()->log().records[1].ending, Ending::replaced);
    // The replaced session's late end leaves the current one standing.
    ASSERT_TRUE(host.model->state().connected);
    EXPECT_FALSE(second->bye());
    EXPECT_TRUE(host.model->history()->log().records[0].isOpen());

    host.model->removeDevice("ipad");
    ASSERT_TRUE(host.pumpUntil([&] { return !host.model->state().connected && second->bye().has_value(); }));
    EXPECT_EQ(second->bye(), ByeReason::remoteAccessDisabled);
    EXPECT_TRUE(host.model->state().devices.empty());
}

// Removing a device ends each of its sessions, not only the current one: here an upload it left half way.
TEST_F(HostModelTest, RemovingADeviceEndsItsUploadToo) {
    host.start();
    const auto key = host.pairDevice("ipad");
    const auto client = host.readyClient("ipad", key);
    ASSERT_TRUE(client);
    client->send(ControlMessage::openFileTransfer(client->hello("ipad", key.view()),
                                                  FileTransferRequest::upload("notes.txt", 10)));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<ControlMessage::FileTransfer>); }));

    host.model->removeDevice("ipad");
    ASSERT_TRUE(host.pumpUntil([&] { return client->bye().has_value(); }));
    EXPECT_EQ(client->bye(), ByeReason::remoteAccessDisabled);
    ASSERT_TRUE(host.pumpUntil([&] { return !host.model->history()->log().records[0].isOpen(); }));
    for (const auto& entry : std::filesystem::directory_iterator(host.folder.path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".velm-")) << entry.path();
    }
}

// Removing every device ends every session of a device, the current one and an upload beside it.
TEST_F(HostModelTest, RemovingAllDevicesEndsEachOfTheirSessions) {
    host.start();
    const auto ipadKey = host.pairDevice("ipad");
    const auto macKey = host.pairDevice("mac");
    const auto current = host.connect("ipad", ipadKey);
    const auto upload = host.readyClient("mac", macKey);
    ASSERT_TRUE(current && upload);
    upload->send(ControlMessage::openFileTransfer(upload->hello("mac", macKey.view()),
                                                  FileTransferRequest::upload("notes.txt", 10)));
    ASSERT_TRUE(host.pumpUntil([&] { return upload->hasReceived(isMessage<ControlMessage::FileTransfer>); }));

    host.model->removeAllDevices();
    ASSERT_TRUE(host.pumpUntil([&] { return current->bye().has_value() && upload->bye().has_value(); }));
    EXPECT_EQ(std::pair(current->bye(), upload->bye()),
              std::pair(std::optional(ByeReason::remoteAccessDisabled),
                        std::optional(ByeReason::remoteAccessDisabled)));
    EXPECT_TRUE(host.model->state().devices.empty());
}

// Pairing a device again retires its old key, and with it what that key let in: a session the old key
// admitted ends, and the new key gets in.
TEST_F(HostModelTest, PairingADeviceAgainEndsTheSessionsOfItsOldKey) {
    host.start();
    const auto oldKey = host.pairDevice("ipad");
    const auto session = host.connect("ipad", oldKey);
    ASSERT_TRUE(session);

    const auto newKey = host.pairDevice("ipad");
    ASSERT_TRUE(host.pumpUntil([&] { return session->bye().has_value(); }));
    EXPECT_EQ(session->bye(), ByeReason::notPaired);

    const auto again = host.connect("ipad", newKey);
    ASSERT_TRUE(again);
    EXPECT_TRUE(host.pumpUntil([&] { return host.model->state().connected.has_value(); }));
    EXPECT_FALSE(again->bye());
    EXPECT_EQ(host.model->state().devices.size(), 1u);
}

// A device removed while its admission is reported to the model must not replace the current session.
TEST_F(HostModelTest, ADeviceRemovedWhileItsSessionIsReportedDoesNotReplaceTheCurrentOne) {
    host.sessionQueue = std::make_shared<ManualQueue>("sessions");
    host.start();
    const auto macKey = host.pairDevice("mac");
    const auto ipadKey = host.pairDevice("ipad");
    const auto pumpBoth = [&](const std::function<bool()>& condition) {
        return Blocking::waitUntil([&] {
            host.sessionQueue->runUntilIdle();
            host.queue->runUntilIdle();
            return condition();
        });
    };
    // The pairings start the listener again: a connection made meanwhile may be dropped.
    std::unique_ptr<test::TestClient> mac;
    for (int attempt = 0; attempt < 5 && !mac; ++attempt) {
        pumpBoth([&] { return host.model->state().listenerState.kind() == Kind::advertising; });
        mac = test::helloedClient(host.endpoint(), "mac", macKey, pumpBoth);
    }
    ASSERT_TRUE(mac && pumpBoth([&] { return host.model->state().connected.has_value(); }));

    // The iPad's session admits it and reports it; the model hears of it only after the removal.
    const auto ipad = host.readyClient("ipad", ipadKey);
    ASSERT_TRUE(ipad);
    ipad->send(ControlMessage::hello(ipad->hello("ipad", ipadKey.view())));
    ASSERT_TRUE(Blocking::waitUntil([&] {
        host.sessionQueue->runUntilIdle();
        return ipad->hasReceived(isMessage<ControlMessage::HelloAck>);
    }));
    host.model->registry()->remove("ipad");

    ASSERT_TRUE(pumpBoth([&] { return ipad->bye().has_value(); }));
    EXPECT_EQ(ipad->bye(), ByeReason::notPaired);
    EXPECT_FALSE(mac->bye());
    ASSERT_TRUE(host.model->state().connected);
    EXPECT_EQ(host.model->state().connected->deviceID, "mac");
}

TEST_F(HostModelTest, QuitsInOrder) {
    host.start();
    const auto key = host.pairDevice("ipad");
    auto client = host.connect("ipad", key);
    ASSERT_TRUE(client);
    bool done = false;
    host.model->quit([&] {
        host.order->push_back("done");
        done = true;
    });
    host.model->quit([&] { host.order->push_back("quit twice"); });
    EXPECT_EQ(*host.order, (std::vector<std::string>{"curtain: Velm Host quit", "away stopping"}));
    ASSERT_TRUE(host.pumpUntil([&] { return client->bye().has_value(); }));
    EXPECT_EQ(client->bye(), ByeReason::hostQuit);
    host.queue->advance(HostModel::goodbyeGrace);
    EXPECT_FALSE(done) << "away access has not stopped yet";
    host.away->stopDone();
    host.queue->runUntilIdle();
    host.queue->advance(HostModel::goodbyeGrace);
    EXPECT_TRUE(done);
    EXPECT_EQ(host.order->back(), "done");
    EXPECT_EQ(host.model->history()->log().records[0].ending, Ending::hostQuit);
}

// A raised curtain locks the computer once the goodbye is on its way, and the quit waits until it is down.
TEST_F(HostModelTest, QuitLocksARaisedCurtainAndWaitsUntilItIsDown) {
    test::FakeCurtainParts curtain;
    auto client = curtainedSession(curtain);
    ASSERT_TRUE(client);
    EXPECT_THAT(curtain.take(), ElementsAre("cover 1", "hold Xvfb mouse, Xvfb keyboard"));

    bool done = false;
    host.model->quit([&] { done = true; });
    EXPECT_THAT(curtain.take(), ElementsAre("lock"));
    ASSERT_TRUE(host.pumpUntil([&] { return client->bye().has_value(); }));
    EXPECT_EQ(client->bye(), ByeReason::hostQuit);
    host.away->stopDone();
    host.queue->runUntilIdle();
    host.queue->advance(HostModel::goodbyeGrace);
    EXPECT_FALSE(done) << "the curtain is still up";

    std::exchange(curtain.screenLock->pending, nullptr)(ScreenLock::Result::locked);
    host.queue->runUntilIdle();
    host.queue->advance(HostModel::goodbyeGrace);
    EXPECT_TRUE(done);
    EXPECT_THAT(curtain.take(), ElementsAre("release", "uncover")) << "the session's own end locks nothing";
}

// Past the limit the quit gives up on away access, never on a raised curtain: it goes only once the
// curtain is down, which it is after the lock answered or the curtain stopped waiting for it.
TEST_F(HostModelTest, QuitOutwaitsItsLimitForALockStillUnderWay) {
    test::FakeCurtainParts curtain;
    auto client = curtainedSession(curtain);
    ASSERT_TRUE(client);

    bool done = false;
    host.model->quit([&] { done = true; });
    ASSERT_TRUE(host.pumpUntil([&] { return client->bye().has_value(); }));
    host.queue->advance(HostModel::quitWaitLimit);
    EXPECT_FALSE(done) << "the lock has not answered yet";
    EXPECT_THAT(curtain.take(), ElementsAre("cover 1", "hold Xvfb mouse, Xvfb keyboard", "lock"));

    host.queue->advance(Curtain::lockWait - HostModel::quitWaitLimit);
    EXPECT_THAT(curtain.take(), ElementsAre("release", "uncover"));
    host.queue->advance(HostModel::goodbyeGrace);
    EXPECT_TRUE(done) << "away access, which never stopped, is not waited for any longer";
}

TEST_F(HostModelTest, PublishesAwayStatusOnTheMainQueueAndTellsItToNewSessions) {
    host.start();
    // The listener and its advertisement report from other threads: counted, they would be changes too.
    ASSERT_TRUE(host.pumpUntil([&] { return host.model->state().advertisement.has_value(); }));
    host.queue->runUntilIdle();
    int changes = 0;
    host.model->setOnChange([&] { ++changes; });
    std::thread([&] { host.away->onStatus(AwayStatus::ready("203.0.113.7")); }).join();
    EXPECT_EQ(host.model->state().awayStatus, AwayStatus::off());
    host.queue->runUntilIdle();
    EXPECT_EQ(host.model->state().awayStatus, AwayStatus::ready("203.0.113.7"));
    EXPECT_EQ(changes, 1);

    auto client = host.connect("ipad", host.pairDevice("ipad"));
    ASSERT_TRUE(client);
    EXPECT_EQ(client->hostHello().value().awayAddress, "203.0.113.7");
}

// Renaming the computer while the host runs: devices browsing see the new name, on the same port.
TEST_F(HostModelTest, ARenamedComputerIsAdvertisedAndGreetsUnderItsNewName) {
    host.start();
    const auto port = host.model->state().listenerState.port();
    host.hostName = "Study";
    host.queue->advance(HostModel::permissionInterval * HostModel::readinessTickDivisor);
    ASSERT_TRUE(host.pumpUntil([&] {
        const auto published = host.discovery->published();
        return published.size() == 1 && published[0].name == "Study";
    }));
    EXPECT_EQ(host.discovery->published()[0].port, port);

    auto client = host.connect("ipad", host.pairDevice("ipad"));
    ASSERT_TRUE(client);
    ASSERT_TRUE(host.pumpUntil([&] { return client->hostHello().has_value(); }));
    EXPECT_EQ(client->hostHello()->hostName, "Study");
}

// A channel that came through the door, as away access's session listener hands it over.
TEST_F(HostModelTest, AChannelFromAwayIsAnAwaySessionWhoseTicketComesBackOnce) {
    host.start();
    host.model->setAllowAwayAccess(true);
    const auto key = host.pairDevice("ipad");
    const auto listener = awaySessionListener();
    test::TestClient client(Endpoint::hostPort("127.0.0.1", listener->port()),
                            PreSharedKey::forAway(awaySessionKey));
    ASSERT_TRUE(host.pumpUntil([&] { return client.hasSeen<ControlChannel::Event::Ready>(); }));
    client.send(ControlMessage::hello(client.hello("ipad", key.view())));
    ASSERT_TRUE(host.pumpUntil([&] { return !host.away->forwarded.empty(); }));
    EXPECT_EQ(host.away->forwarded[0].second, awayTicket);
    host.queue->runUntilIdle();
    EXPECT_FALSE(client.hostHello()) << "the hello waits for the router";

    std::thread([&] { host.away->forwardDone(40123); }).join();
    ASSERT_TRUE(host.pumpUntil([&] { return host.model->state().connected.has_value(); }));
    ASSERT_TRUE(host.pumpUntil([&] { return client.hostHello().has_value(); }));
    EXPECT_EQ(client.hostHello().value().videoPort, 40123);
    EXPECT_TRUE(host.model->state().connected->isAway);
    EXPECT_EQ(host.model->awayVisits()->visits().size(), 1u);

    client.send(ControlMessage::bye(ByeReason::userDisconnected));
    ASSERT_TRUE(host.pumpUntil([&] { return !host.model->state().connected; }));
    EXPECT_EQ(host.away->ended, std::vector{awayTicket});
    host.model->quit([] {});
    host.away->stopDone();
    host.queue->advance(HostModel::quitWaitLimit);
    EXPECT_EQ(host.away->ended, std::vector{awayTicket});
    listener->cancel();
}

// Away access switched off while a session from away waits for the router: that session is not let in.
TEST_F(HostModelTest, SwitchingAwayAccessOffTurnsAwayASessionFromAwayOnItsWayIn) {
    host.start();
    host.model->setAllowAwayAccess(true);
    const auto key = host.pairDevice("ipad");
    const auto listener = awaySessionListener();
    test::TestClient client(Endpoint::hostPort("127.0.0.1", listener->port()),
                            PreSharedKey::forAway(awaySessionKey));
    ASSERT_TRUE(host.pumpUntil([&] { return client.hasSeen<ControlChannel::Event::Ready>(); }));
    client.send(ControlMessage::hello(client.hello("ipad", key.view())));
    ASSERT_TRUE(host.pumpUntil([&] { return !host.away->forwarded.empty(); }));

    host.model->setAllowAwayAccess(false);
    std::thread([&] { host.away->forwardDone(40123); }).join();
    ASSERT_TRUE(host.pumpUntil([&] { return host.away->ended == std::vector{awayTicket}; }));
    EXPECT_FALSE(host.model->state().connected);
    EXPECT_TRUE(host.model->awayVisits()->visits().empty());
    listener->cancel();
}

// Switching away access off ends what came in through the door, visit and all; a session from the home
// network goes on.
TEST_F(HostModelTest, SwitchingAwayAccessOffEndsTheSessionsFromAwayOnly) {
    host.start();
    host.model->setAllowAwayAccess(true);
    const auto ipadKey = host.pairDevice("ipad");
    const auto macKey = host.pairDevice("mac");
    const auto upload = host.readyClient("mac", macKey);
    ASSERT_TRUE(upload);
    upload->send(ControlMessage::openFileTransfer(upload->hello("mac", macKey.view()),
                                                  FileTransferRequest::upload("notes.txt", 10)));
    ASSERT_TRUE(host.pumpUntil([&] { return upload->hasReceived(isMessage<ControlMessage::FileTransfer>); }));
    const auto listener = awaySessionListener();
    const auto away = awaySession(*listener, "ipad", ipadKey);
    ASSERT_TRUE(away);

    host.model->setAllowAwayAccess(false);
    ASSERT_TRUE(host.pumpUntil([&] { return away->bye().has_value() && !host.model->state().connected; }));
    EXPECT_EQ(away->bye(), ByeReason::remoteAccessDisabled);
    EXPECT_EQ(host.away->ended, std::vector{awayTicket});
    ASSERT_EQ(host.model->awayVisits()->visits().size(), 1u);
    EXPECT_FALSE(host.model->awayVisits()->visits()[0].isOpen());
    host.queue->runUntilIdle();
    EXPECT_FALSE(upload->bye());
    listener->cancel();
}

// Away access taken from one device, by requiring the device-bound key it lacks or by forgetting it,
// ends its session from away.
TEST_F(HostModelTest, WithdrawingADevicesAwayAccessEndsItsSessionFromAway) {
    const auto keyless = ipadVisitingFromAway();
    ASSERT_TRUE(keyless.session);
    host.model->setAllowsAwayWithoutDeviceKey(false);
    ASSERT_TRUE(host.pumpUntil([&] { return keyless.session->bye().has_value(); }));
    EXPECT_EQ(keyless.session->bye(), ByeReason::awayKeyRequired);

    host.model->setAllowsAwayWithoutDeviceKey(true);
    const auto forgotten = awaySession(*keyless.listener, "ipad", keyless.key);
    ASSERT_TRUE(forgotten);
    // As "Remove All Devices" does, past the model.
    host.model->registry()->remove(std::nullopt);
    ASSERT_TRUE(host.pumpUntil([&] { return forgotten->bye().has_value(); }));
    EXPECT_EQ(forgotten->bye(), ByeReason::remoteAccessDisabled);
    ASSERT_TRUE(host.pumpUntil([&] { return host.away->ended.size() == 2; }));
    EXPECT_FALSE(host.model->state().connected);
    keyless.listener->cancel();
}

// Days away run out by the clock alone, with nothing on the computer changing.
TEST_F(HostModelTest, ASessionFromAwayEndsWhenItsDevicesDaysAwayRunOut) {
    const auto away = ipadVisitingFromAway();
    ASSERT_TRUE(away.session);
    host.now = [] {
        const auto days = std::chrono::days(HostSettings::defaultAwayAccessDays + 1);
        return Date(Date::now().secondsSinceReferenceDate() + std::chrono::duration<double>(days).count());
    };
    host.queue->advance(HostModel::permissionInterval);
    ASSERT_TRUE(host.pumpUntil([&] { return away.session->bye().has_value(); }));
    EXPECT_EQ(away.session->bye(), ByeReason::remoteAccessDisabled);
    away.listener->cancel();
}

TEST_F(HostModelTest, PowerOffLetsTheGoodbyeGoFirst) {
    host.start();
    bool ready = false;
    host.model->prepareForPowerOff([&] { ready = true; });
    EXPECT_TRUE(ready) << "nobody to tell";
    auto client = host.connect("ipad", host.pairDevice("ipad"));
    ASSERT_TRUE(client);
    ready = false;
    host.model->prepareForPowerOff([&] { ready = true; });
    ASSERT_TRUE(host.pumpUntil([&] { return !host.model->state().connected && client->bye().has_value(); }));
    EXPECT_EQ(client->bye(), ByeReason::poweringOff);
    EXPECT_FALSE(ready);
    host.queue->advance(HostModel::goodbyeGrace);
    EXPECT_TRUE(ready);
}

TEST_F(HostModelTest, QuitWaitsForAwayAccessAtMostTheLimit) {
    host.start();
    bool done = false;
    host.model->quit([&] { done = true; });
    host.queue->advance(HostModel::quitWaitLimit - 1ms);
    EXPECT_FALSE(done);
    host.queue->advance(1ms);
    EXPECT_TRUE(done);
}

TEST_F(HostModelTest, GoesWithoutDeviceKeysUntilEveryDeviceHasOne) {
    host.start();
    host.pairDevice("ipad");
    EXPECT_TRUE(host.model->state().allowsAwayWithoutDeviceKey);
    host.model->registry()->update("ipad", [](PairedDevice& device) { device.awayPublicKey = Bytes(65, 4); });
    host.queue->runUntilIdle();
    EXPECT_FALSE(host.model->state().allowsAwayWithoutDeviceKey);
    // Once: the user may turn it on again.
    host.model->setAllowsAwayWithoutDeviceKey(true);
    host.pairDevice("iphone");
    EXPECT_TRUE(host.model->state().allowsAwayWithoutDeviceKey);
}

TEST_F(HostModelTest, PermissionTimerSlowsDownOnceBothAreGranted) {
    host.desktop->granted = {};
    host.start();
    const int atStart = host.desktop->accessReads;
    host.queue->advance(HostModel::permissionInterval * 4);
    EXPECT_EQ(host.desktop->accessReads - atStart, 4);
    EXPECT_EQ(host.readinessReads, 2);
    host.desktop->granted = {.screenReading = true, .inputInjection = true};
    host.queue->advance(HostModel::permissionInterval);
    EXPECT_TRUE(host.model->state().screenRecordingGranted && host.model->state().accessibilityGranted);
    const int granted = host.desktop->accessReads;
    host.queue->advance(HostModel::permissionInterval * 3);
    EXPECT_EQ(host.desktop->accessReads, granted + 1) << "only the eighth tick reads";
}

TEST_F(HostModelTest, LaunchAtLoginWritesTheAutostartEntry) {
    host.start();
    host.model->setLaunchAtLogin(true);
    const auto entry = test::TemporaryFolder::readFile(host.folder / "autostart" / "velm-host.desktop");
    EXPECT_NE(entry.find("Exec=/usr/bin/velm-host\n"), std::string::npos);
    EXPECT_EQ(host.readinessReads, 2);
    host.model->setLaunchAtLogin(false);
    EXPECT_FALSE(std::filesystem::exists(host.folder / "autostart" / "velm-host.desktop"));
}

TEST_F(HostModelTest, AnIdleTimeoutChosenWhileASessionIsOnItsWayInReachesIt) {
    host.start();
    host.model->setAllowAwayAccess(true);
    const auto key = host.pairDevice("ipad");
    const auto listener = awaySessionListener();
    const auto client = awaySession(*listener, "ipad", key, [&] {
        host.model->setDevicePolicy("ipad", std::chrono::seconds(900), false);
        host.queue->runUntilIdle();
    });
    ASSERT_TRUE(client);
    EXPECT_EQ(client->hostHello()->idleTimeout, 900.0);
}

TEST_F(HostModelTest, ShowsTheAddressesOfInterfacesThatComeAndGo) {
    const auto up = [](const char* text) {
        return InterfaceAddress{
            .name = "eth0", .isUp = true, .address = *IpAddress::parse(text), .netmask = {}};
    };
    host.interfaces = {up("192.168.1.20")};
    host.start();
    ASSERT_TRUE(host.pumpUntil([&] { return host.model->state().advertisement.has_value(); }));
    const auto checked = HostModel::permissionInterval * HostModel::readinessTickDivisor;
    host.queue->advance(checked);
    int changes = 0;
    host.model->setOnChange([&] { ++changes; });
    const auto port = ":" + std::to_string(host.model->state().listenerState.port());

    host.interfaces.push_back(up("10.0.0.7"));
    host.queue->advance(checked);
    EXPECT_EQ(changes, 1) << "a new network";
    host.interfaces.erase(host.interfaces.begin());
    host.queue->advance(checked);
    EXPECT_EQ(changes, 2) << "a network left";
    EXPECT_EQ(host.model->localAddresses(), (std::vector<LocalAddress>{{"10.0.0.7" + port, false}}));
}

} // namespace
} // namespace velm
