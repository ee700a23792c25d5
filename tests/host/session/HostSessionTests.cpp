#include "Velm_Host/session/GlimpseFit.h"
#include "Velm_Host/session/InstalledAppPages.h"
#include "Velm_Host/session/SessionFileTransfer.h"
#include "platform/crypto/Random.h"
#include "tests/host/session/SessionHarness.h"
#include "tests/support/FileTransferPrint.h"
#include "tests/support/HeldRelay.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SystemCallFaults.h"
#include "transport/client/requests/FileTransferClient.h"
#include "transport/client/requests/GlimpseClient.h"
#include "transport/client/requests/HistoryClient.h"
#include "transport/client/requests/PairingClient.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::SessionHarness;
using test::TemporaryFolder;
using test::TestClient;
using Ending = ConnectionRecord::Ending;
using Message = ControlMessage;
using Upload = std::variant<std::string, FileTransferError>;

using test::isMessage;

template <typename Result> std::optional<Result> waitFor(SessionHarness& host, test::EventLog<Result>& log) {
    return host.pumpUntil([&] { return !log.values().empty(); }) ? std::optional(log.values().front())
                                                                 : std::nullopt;
}

class HostSessionTest : public ::testing::Test {
protected:
    PreSharedKey deviceKey() const { return *PreSharedKey::forDevice("ipad", key); }

    // The client may finish its handshake before the listener hands the host's end over: the session's
    // time-outs run from its start, so the start comes before any virtual time passes.
    std::unique_ptr<TestClient> connect(const PreSharedKey& presented) {
        const auto before = host.sessionCount();
        auto client = std::make_unique<TestClient>(host.endpoint(), presented);
        EXPECT_TRUE(host.pumpUntil(
            [&] { return client->hasSeen<ControlChannel::Event::Ready>() && host.sessionCount() > before; }));
        host.queue->runUntilIdle();
        return client;
    }

    // A main session of "ipad", admitted once the client has the host's hello.
    std::unique_ptr<TestClient> startMain(bool understandsPolicy = true) {
        auto client = connect(deviceKey());
        auto hello = client->hello("ipad", key);
        hello.understandsPolicy = understandsPolicy ? std::optional(true) : std::nullopt;
        client->send(Message::hello(hello));
        EXPECT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::HelloAck>); }));
        return client;
    }

    // The picture a glimpse client of "ipad" gets; nothing if no answer came.
    using Glimpse = std::optional<std::optional<Bytes>>;
    Glimpse glimpse() {
        test::EventLog<std::optional<Bytes>> glimpses;
        GlimpseClient::make(host.endpoint(), "ipad", key)
            ->start("iPad", Queue::make("glimpse"),
                    [&](std::optional<Bytes> image) { glimpses.push(image); });
        return waitFor(host, glimpses);
    }

    // What an upload of a five-byte file by "ipad" comes to, with the host's download folder at `folder`;
    // nothing when no answer came.
    std::optional<Upload> uploadInto(const std::filesystem::path& folder) {
        TemporaryFolder device;
        TemporaryFolder::writeFile(device / "notes.txt", "hello");
        host.configure = [folder](HostSession::Context& context) { context.downloadFolder = folder; };
        host.listen();
        test::EventLog<Upload> results;
        const auto client = FileTransferClient::make(host.endpoint(), "ipad", "iPad", key);
        client->upload(device / "notes.txt", "notes.txt", 5, {}, [&](auto result) { results.push(result); });
        return waitFor(host, results);
    }

    SessionHarness host;
    const SecretBytes key = host.pairDevice("ipad");
};

TEST_F(HostSessionTest, PairsThroughTheCodeAndEndsOnceAnswered) {
    host.registry->openPairing("654321", std::nullopt, 5, false);
    host.listen();
    test::EventLog<PairingOutcome> outcomes;
    PairingClient::make(host.endpoint(), "654321")
        ->start("ipad-2", "iPad Two", Queue::make("pairing"),
                [&](PairingOutcome outcome) { outcomes.push(outcome); });
    const auto outcome = waitFor(host, outcomes);
    ASSERT_TRUE(outcome);
    const auto* paired = outcome->get<PairingOutcome::Paired>();
    ASSERT_TRUE(paired);
    EXPECT_EQ(paired->deviceKey, host.registry->device("ipad-2")->key);
    EXPECT_EQ(paired->hostID, "HOST-ID");
    EXPECT_EQ(host.notices.values(), std::vector<HostNotice>{HostNotice::DevicePaired{"iPad Two"}});

    host.queue->advance(HostSession::answeredGrace);
    ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == 1; }));
    EXPECT_FALSE(host.ended.values()[0].snapshot);
    EXPECT_FALSE(host.desktop->started);
}

// Every way a hello is turned away: the goodbye the client understands, and what the history keeps.
TEST_F(HostSessionTest, RefusesWithTheAdaptedReasonAndRecordsKeyFailures) {
    const auto other = *PreSharedKey::forDevice("ipad-b", host.pairDevice("ipad-b"));
    const auto away = PreSharedKey::forAway(Random::bytes(32));
    host.registry->setAllowsAwayWithoutDeviceKey(false);
    host.listen({away});
    using Refusal = ConnectionRecord::Refusal;
    struct Case {
        PreSharedKey presented;
        std::function<void(ClientHello&)> change;
        ByeReason reason;
        std::optional<Refusal> refusal;
        std::string why;
    };
    const std::vector<Case> cases{
        {deviceKey(),
         [](ClientHello& h) { h.protocolVersion = 2; },
         ByeReason::protocolMismatch,
         {},
         "another protocol version"},
        // A hello whose proof fails does not speak for the device: it is named as it was paired.
        {deviceKey(),
         [](ClientHello& h) {
             h.proof = Random::bytes(32);
             h.deviceName = "Not the iPad";
         },
         ByeReason::notPaired, Refusal::keyDidNotMatch, "proof did not match"},
        {deviceKey(), [](ClientHello& h) { h.proof.reset(); }, ByeReason::notPaired, {}, "no proof"},
        {deviceKey(),
         [](ClientHello& h) { h.deviceID = "stranger"; },
         ByeReason::notPaired,
         {},
         "device not paired"},
        {other, [](ClientHello&) {}, ByeReason::notPaired, {}, "another device's key"},
        // Another device's key says nothing of this one's: the history does not blame it.
        {other,
         [](ClientHello& h) { h.proof = Random::bytes(32); },
         ByeReason::notPaired,
         {},
         "another device's key"},
        {away, [](ClientHello&) {}, ByeReason::awayKeyRequired, Refusal::deviceBoundKeyMissing,
         "no device-bound key"},
        {away, [](ClientHello& h) { h.understandsPolicy.reset(); }, ByeReason::remoteAccessDisabled,
         Refusal::deviceBoundKeyMissing, "no device-bound key"},
    };
    for (std::size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(index);
        const auto& each = cases[index];
        const auto recordsBefore = host.history->log().records.size();
        auto client = connect(each.presented);
        auto hello = client->hello("ipad", key);
        each.change(hello);
        client->send(Message::hello(hello));
        ASSERT_TRUE(host.pumpUntil([&] { return client->bye().has_value(); }));
        EXPECT_EQ(client->bye(), each.reason);
        const auto records = host.history->log().records;
        ASSERT_EQ(records.size(), recordsBefore + (each.refusal ? 1 : 0));
        if (each.refusal) {
            EXPECT_EQ(std::pair(records.front().refusal, records.front().deviceName),
                      std::pair(each.refusal, std::string("ipad")));
        }
        EXPECT_EQ(host.notices.values().back(), HostNotice(HostNotice::SessionRefused{"ipad", each.why}));
    }
    EXPECT_EQ(host.notices.values().size(), cases.size());
    EXPECT_TRUE(host.authenticated.values().empty());
}

TEST_F(HostSessionTest, ServesHistoryAndGlimpsesWithoutBecomingASession) {
    host.history->begin(ConnectionRecord::Kind::session, {.deviceID = "ipad", .deviceName = "iPad"});
    host.listen();
    test::EventLog<HistoryResult> histories;
    HistoryClient::make(host.endpoint(), "ipad", key, {}, 8s)
        ->start("iPad", Queue::make("history"), false, [&](HistoryResult result) { histories.push(result); });
    const auto history = waitFor(host, histories);
    ASSERT_TRUE(history);
    EXPECT_EQ(*history, HistoryResult(HistoryResult::Records{host.history->log().records}));

    // The largest picture fills a frame; one that would not fit is no glimpse at all.
    for (const auto& picture :
         {Bytes(GlimpseFit::maxJpegBytes(), 0xD8), Bytes(GlimpseFit::maxJpegBytes() + 1)}) {
        host.desktop->picture = picture;
        EXPECT_EQ(glimpse(),
                  Glimpse(std::in_place, picture.size() <= GlimpseFit::maxJpegBytes() ? std::optional(picture)
                                                                                      : std::nullopt));
    }
    EXPECT_EQ(host.desktop->glimpseBudget, GlimpseFit::maxJpegBytes());

    // Under the curtain a picture would show the shields: there is none.
    host.curtain->on = true;
    host.desktop->glimpseBudget.reset();
    EXPECT_EQ(glimpse(), Glimpse(std::in_place)) << "answered, without a picture";
    EXPECT_FALSE(host.desktop->glimpseBudget);
    EXPECT_TRUE(host.authenticated.values().empty());
    EXPECT_TRUE(host.registry->device("ipad")->lastConnected);
}

// An answer that takes long to leave, as a full history does over a slow uplink, goes out whole: the
// client is let go a grace after its answer was handed to the network, not after it was queued. Names
// of control characters, six bytes each in the answer, make it far larger than the held link buffers.
TEST_F(HostSessionTest, LetsTheClientGoOnlyOnceItsAnswerHasLeft) {
    for (int index = 0; index < 500; ++index) {
        host.history->recordRefusal(
            ConnectionRecord::Refusal::keyDidNotMatch,
            {.deviceID = "ipad", .deviceName = std::string(256, '\x01'), .from = "h"});
    }
    host.listen();
    test::HeldRelay relay(std::get<HostPort>(host.endpoint().target).port, 2000);
    test::EventLog<HistoryResult> histories;
    HistoryClient::make(Endpoint::hostPort("127.0.0.1", relay.port()), "ipad", key, {}, 60s)
        ->start("iPad", Queue::make("history"), false, [&](HistoryResult result) { histories.push(result); });
    ASSERT_TRUE(host.pumpUntil([&] { return host.registry->device("ipad")->lastConnected.has_value(); }));
    host.queue->advance(HostSession::answeredGrace + HostSession::cancelDelay);
    EXPECT_TRUE(host.ended.values().empty()) << "the client was let go with its answer still on its way";

    relay.release();
    const auto history = waitFor(host, histories);
    ASSERT_TRUE(history);
    EXPECT_EQ(*history, HistoryResult(HistoryResult::Records{host.history->log().records}));
}

TEST_F(HostSessionTest, MovesFilesBothWaysByteExact) {
    host.listen();
    TemporaryFolder device;
    const Bytes contents = Random::bytes(300'000);
    const std::string text(contents.begin(), contents.end());
    TemporaryFolder::writeFile(device / "photo.jpg", text);
    TemporaryFolder::writeFile(host.folder / "offered.txt", text);
    host.desktop->offered[3] = host.folder / "offered.txt";

    test::EventLog<std::variant<std::string, FileTransferError>> uploads;
    const auto uploader = FileTransferClient::make(host.endpoint(), "ipad", "iPad", key);
    uploader->upload(device / "photo.jpg", "photo.jpg", contents.size(), {},
                     [&](auto result) { uploads.push(result); });
    const auto upload = waitFor(host, uploads);
    ASSERT_TRUE(upload);
    EXPECT_EQ(std::get<std::string>(*upload), "photo.jpg");
    EXPECT_EQ(TemporaryFolder::readFile(host.folder / "photo.jpg"), text);
    const HostNotice received = HostNotice::FileReceived{"photo.jpg", contents.size(), host.folder.path()};
    EXPECT_EQ(host.notices.values(), std::vector{received});

    test::EventLog<std::variant<std::filesystem::path, FileTransferError>> downloads;
    const auto downloader = FileTransferClient::make(host.endpoint(), "ipad", "iPad", key);
    downloader->download(3, device.path(), {}, [&](auto result) { downloads.push(result); });
    const auto download = waitFor(host, downloads);
    ASSERT_TRUE(download);
    EXPECT_EQ(TemporaryFolder::readFile(std::get<std::filesystem::path>(*download)), text);

    host.queue->advance(HostSession::answeredGrace);
    ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == 2; }));
    for (const auto& record : host.history->log().records) {
        EXPECT_EQ(std::pair(record.kind, record.ending),
                  std::pair(ConnectionRecord::Kind::file, std::optional(Ending::disconnected)));
    }
    EXPECT_EQ(host.history->log().records.size(), 2u);
}

// A device that falls silent half way through an upload does not hold its partial file for good; each
// chunk that arrives gives it the whole limit again.
TEST_F(HostSessionTest, AnUploadThatFallsSilentFailsAndLeavesNoPartialFile) {
    host.listen();
    // The sizes of the partial files in the download folder.
    const auto partialFiles = [&] {
        std::vector<std::uintmax_t> sizes;
        for (const auto& entry : std::filesystem::directory_iterator(host.folder.path())) {
            if (entry.path().filename().string().starts_with(".velm-")) {
                sizes.push_back(entry.file_size());
            }
        }
        return sizes;
    };
    const auto client = connect(deviceKey());
    client->send(
        Message::openFileTransfer(client->hello("ipad", key), FileTransferRequest::upload("notes.txt", 10)));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::FileTransfer>); }));
    host.queue->advance(SessionFileTransfer::uploadStallLimit - 1s);
    const Bytes half{'h', 'e', 'l', 'l', 'o'};
    client->sendFile(half);
    ASSERT_TRUE(host.pumpUntil([&] { return partialFiles() == std::vector<std::uintmax_t>{5}; }));
    host.queue->advance(SessionFileTransfer::uploadStallLimit - 1s);
    host.queue->runUntilIdle();
    EXPECT_TRUE(host.ended.values().empty());

    host.queue->advance(1s);
    ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == 1; }));
    EXPECT_EQ(host.history->log().records[0].ending, Ending::connectionLost);
    EXPECT_TRUE(partialFiles().empty());
    host.queue->advance(HostSession::cancelDelay);
    EXPECT_TRUE(host.pumpUntil([&] { return client->hasSeen<ControlChannel::Event::Closed>(); }));
}

// An offered file that shrank after it was announced cannot be sent whole: the client hears why, and the
// history does not blame the connection.
TEST_F(HostSessionTest, TellsTheClientWhenAnOfferedFileCannotBeReadToItsEnd) {
    host.listen();
    const auto offered = host.folder / "growing.log";
    TemporaryFolder::writeFile(offered, std::string(1000, 'x'));
    host.desktop->offered[5] = offered;
    // The truncation runs on the session's queue after the size was taken, before the first read.
    host.desktop->onOfferedFile = [&] {
        host.queue->post([offered] { std::filesystem::resize_file(offered, 10); });
    };
    TemporaryFolder device;
    test::EventLog<std::variant<std::filesystem::path, FileTransferError>> downloads;
    const auto client = FileTransferClient::make(host.endpoint(), "ipad", "iPad", key);
    client->download(5, device.path(), {}, [&](auto result) { downloads.push(result); });
    const auto download = waitFor(host, downloads);
    ASSERT_TRUE(download);
    EXPECT_EQ(*download, (std::variant<std::filesystem::path, FileTransferError>(
                             FileTransferError::refused("The file cannot be read."))));
    ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == 1; }));
    EXPECT_EQ(host.history->log().records.front().ending, Ending::endedHere);
    EXPECT_TRUE(std::filesystem::is_empty(device.path()));
}

// An offered file saved anew (a rename over it) as the session opens it goes out whole, as the file that
// was opened: its size is that file's, not the one the path named a moment before.
TEST_F(HostSessionTest, SendsAnOfferedFileReplacedAsItOpensWhole) {
    host.listen();
    const auto offered = host.folder / "report.txt";
    TemporaryFolder::writeFile(offered, std::string(1000, 'a'));
    host.desktop->offered[6] = offered;
    for (const auto& replacement : {std::string(3000, 'b'), std::string(10, 'c')}) {
        SCOPED_TRACE(replacement.size());
        const auto swap = test::SystemCallFaults::beforeOpening("report.txt", [&] {
            TemporaryFolder::writeFile(host.folder / "report.new", replacement);
            std::filesystem::rename(host.folder / "report.new", offered);
        });
        TemporaryFolder device;
        test::EventLog<std::variant<std::filesystem::path, FileTransferError>> downloads;
        const auto client = FileTransferClient::make(host.endpoint(), "ipad", "iPad", key);
        client->download(6, device.path(), {}, [&](auto result) { downloads.push(result); });
        const auto download = waitFor(host, downloads);
        ASSERT_TRUE(download && std::holds_alternative<std::filesystem::path>(*download));
        const auto received = TemporaryFolder::readFile(std::get<std::filesystem::path>(*download));
        EXPECT_EQ(received.size(), replacement.size());
        EXPECT_TRUE(received == replacement);
    }
}

// A missing download folder is made (see the program's tests); one that cannot be made refuses the file,
// with the cause in the log.
TEST_F(HostSessionTest, RefusesAnUploadOnlyWhenTheDownloadFolderCannotBeMade) {
    TemporaryFolder::writeFile(host.folder / "a-file", "");
    const auto blocked = host.folder / "a-file" / "Downloads";
    LogCapture log;
    EXPECT_EQ(uploadInto(blocked),
              Upload(FileTransferError::refused("The file cannot be saved on this computer.")));
    EXPECT_TRUE(log.contains("session: upload refused: the download folder " + blocked.string() +
                             " cannot be made: Not a directory"));
}

// A download folder made for a file must last as the file does: one whose making cannot be synced into
// its parent could vanish in a power cut with the file the client was told is stored.
TEST_F(HostSessionTest, RefusesAnUploadWhoseNewDownloadFolderCannotBeMadeToLast) {
    std::filesystem::create_directory(host.folder / "home");
    const auto fault = test::SystemCallFaults::failFolderSync("home");
    EXPECT_EQ(uploadInto(host.folder / "home" / "Downloads"),
              Upload(FileTransferError::refused("The file cannot be saved on this computer.")));
}

TEST_F(HostSessionTest, EndsWithoutAGoodbyeWhenNoHelloComesInTime) {
    host.listen();
    auto client = connect(deviceKey());
    host.queue->advance(HostSession::helloTimeout - 1ms);
    EXPECT_TRUE(host.ended.values().empty());
    host.queue->advance(1ms + HostSession::cancelDelay);
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasSeen<ControlChannel::Event::Closed>(); }));
    EXPECT_EQ(host.ended.values().size(), 1u);
    EXPECT_FALSE(client->bye());
}

TEST_F(HostSessionTest, AdmitsAMainSessionAndServesIt) {
    host.configure = [](HostSession::Context& context) {
        context.forwardVideoPort = [](std::uint16_t, auto completion) { completion(40'000); };
    };
    host.listen();
    host.desktop->installed.resize(50, AppInfo{.bundleID = "app", .name = "App", .iconPNG = std::nullopt});
    auto client = startMain();
    const auto hello = client->hostHello().value();
    EXPECT_EQ(
        std::tuple(hello.hostName, hello.displays, hello.videoPort, hello.findsTapTargets, hello.curtain),
        std::tuple("Test host", host.desktop->screens, 40'000, true,
                   CurtainState{.available = true, .on = false}));
    EXPECT_EQ(std::pair(hello.videoKey.size(), hello.sessionToken.size()), std::pair(32ul, 16ul));
    EXPECT_TRUE(hello.awayAccessUntil && !hello.idleTimeout);
    EXPECT_EQ(host.desktop->clientMaxFPS, 120);
    EXPECT_EQ(host.authenticated.values().at(0).deviceID, "ipad");
    EXPECT_EQ(host.history->log().records.front().kind, ConnectionRecord::Kind::session);

    // Input before a stream has no screen to land on.
    client->send(InputEvent::keyDown(4));
    client->send(Message::configureStream(StreamRequest{}));
    client->send(InputEvent::keyDown(5));
    client->send(Message::listInstalledApps());
    client->send(Message::setCurtain(true));
    client->send(Message::ping(9, 1234));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::Pong>); }));
    EXPECT_EQ(host.input->events, std::vector{InputEvent::keyDown(5)});
    EXPECT_EQ(host.input->screen, host.desktop->area);
    std::vector<ControlMessage> answers;
    for (const auto& message : client->received()) {
        if (!isMessage<Message::InstalledApps>(message)) {
            answers.push_back(message);
        } else if (const auto& page = message.get<Message::InstalledApps>()->page; page.index < 2) {
            EXPECT_EQ(std::pair(page.apps.size(), page.isLast), std::pair(24ul, false));
        } else {
            EXPECT_EQ(std::tuple(page.index, page.apps.size(), page.isLast), std::tuple(2, 2ul, true));
        }
    }
    ASSERT_EQ(answers.size(), 5u);
    EXPECT_EQ(
        std::vector(answers.begin() + 1, answers.end() - 1),
        (std::vector{Message::streamStarted(*host.desktop->description), Message::pointerPosition(0.25, 0.75),
                     Message::curtain({.available = true, .on = true})}));
    const auto* pong = answers.back().get<Message::Pong>();
    EXPECT_EQ(std::pair(pong->id, pong->clientTime), std::pair(9u, std::uint64_t{1234}));
}

// A client reads pages up to the one marked last: lists asked for one after another must not mingle.
TEST_F(HostSessionTest, SendsEachListOfInstalledApplicationsWholeBeforeTheNext) {
    host.listen();
    host.desktop->installed.resize(5 * 24,
                                   AppInfo{.bundleID = "app", .name = "App", .iconPNG = std::nullopt});
    auto client = startMain();
    client->send(Message::listInstalledApps());
    client->send(Message::listInstalledApps());
    const auto pages = [&] {
        std::vector<AppListPage> found;
        for (const auto& message : client->received()) {
            if (const auto* installed = message.get<Message::InstalledApps>()) {
                found.push_back(installed->page);
            }
        }
        return found;
    };
    ASSERT_TRUE(host.pumpUntil([&] { return pages().size() == 10; }));
    std::vector<std::pair<std::int64_t, bool>> order;
    for (const auto& page : pages()) {
        order.emplace_back(page.index, page.isLast);
    }
    const std::vector<std::pair<std::int64_t, bool>> whole{
        {0, false}, {1, false}, {2, false}, {3, false}, {4, true}};
    auto twice = whole;
    twice.insert(twice.end(), whole.begin(), whole.end());
    EXPECT_EQ(order, twice);
}

// Every list is made with all its icons: a device asking again and again faster than they are made
// has each kind asked of the desktop once at a time, and once more after its last question.
TEST_F(HostSessionTest, AsksTheDesktopForEachListOnlyOnceAtATime) {
    host.listen();
    host.desktop->installed.resize(30, AppInfo{.bundleID = "app", .name = "App", .iconPNG = std::nullopt});
    host.desktop->holdsAnswers = true;
    auto client = startMain();
    for (int round = 0; round < 50; ++round) {
        client->send(Message::listApps());
        client->send(Message::listInstalledApps());
        client->send(Message::requestDeviceImage());
    }
    client->send(Message::ping(1, 0));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::Pong>); }));
    EXPECT_EQ(host.desktop->asks, (test::FakeSessionDesktop::Asks{1, 1, 1}));

    host.desktop->releaseAnswers();
    const auto answers = [&] {
        test::FakeSessionDesktop::Asks seen;
        for (const auto& message : client->received()) {
            const auto* page = message.get<Message::InstalledApps>();
            seen.running += isMessage<Message::Apps>(message);
            seen.installed += page && page->page.isLast;
            seen.images += isMessage<Message::DeviceImage>(message);
        }
        return seen;
    };
    const test::FakeSessionDesktop::Asks twice{2, 2, 2};
    ASSERT_TRUE(host.pumpUntil([&] { return answers() == twice; }));
    client->send(Message::ping(2, 0));
    ASSERT_TRUE(host.pumpUntil([&] {
        return client->hasReceived([](const ControlMessage& message) {
            const auto* pong = message.get<Message::Pong>();
            return pong && pong->id == 2;
        });
    }));
    EXPECT_EQ(answers(), twice);
    EXPECT_EQ(host.desktop->asks, twice);
}

// A page too long for a frame even without its icons cannot go: the lists asked for after it still do.
TEST_F(HostSessionTest, AListThatCannotGoHoldsUpNoLaterOne) {
    host.listen();
    host.desktop->installed.resize(
        InstalledAppPages::pageSize,
        AppInfo{.bundleID = "app", .name = std::string(200'000, 'n'), .iconPNG = std::nullopt});
    auto client = startMain();
    client->send(Message::listInstalledApps());
    client->send(Message::ping(1, 0));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::Pong>); }));
    host.desktop->installed = {AppInfo{.bundleID = "app", .name = "App", .iconPNG = std::nullopt}};
    client->send(Message::listInstalledApps());
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::InstalledApps>); }));
    for (const auto& message : client->received()) {
        if (const auto* installed = message.get<Message::InstalledApps>()) {
            EXPECT_EQ(std::pair(installed->page.apps.size(), installed->page.isLast), std::pair(1ul, true));
        }
    }
}

// What a hello says of the device is kept in the registry, as much of it as a name may take.
TEST_F(HostSessionTest, KeepsTheHellosModelNoLongerThanAName) {
    host.listen();
    auto client = connect(deviceKey());
    auto hello = client->hello("ipad", key);
    const std::string huge(300'000, 'x');
    hello.model = DeviceModel{.identifier = huge, .name = huge};
    client->send(Message::hello(hello));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::HelloAck>); }));
    const auto model = host.registry->device("ipad").value().model.value();
    EXPECT_EQ(model.identifier.size(), DeviceRegistry::maxNameBytes);
    EXPECT_EQ(model.name.value_or("").size(), DeviceRegistry::maxNameBytes);
}

// A device whose name shows nothing is named as the registry keeps it wherever the computer shows it.
TEST_F(HostSessionTest, ShowsADeviceWithoutAVisibleNameAsTheRegistryKeepsIt) {
    host.listen();
    auto client = connect(deviceKey());
    auto hello = client->hello("ipad", key);
    hello.deviceName = " \t";
    client->send(Message::hello(hello));
    ASSERT_TRUE(host.pumpUntil([&] { return !host.authenticated.values().empty(); }));
    EXPECT_EQ(host.authenticated.values().at(0).deviceName, DeviceRegistry::unnamedDeviceName);
    EXPECT_EQ(host.history->log().records.front().deviceName, DeviceRegistry::unnamedDeviceName);
}

// The host's hello of a session from away waits for its forwarded port; a device removed, or paired
// anew, meanwhile is no longer the one its hello proved.
TEST_F(HostSessionTest, TurnsAwayADeviceRemovedOrPairedAgainWhileItsVideoPortIsForwarded) {
    // Called on the session's queue, which the test runs.
    using Completion = std::function<void(std::optional<std::uint16_t>)>;
    auto forwarded = std::make_shared<std::vector<Completion>>();
    host.configure = [forwarded](HostSession::Context& context) {
        context.forwardVideoPort = [forwarded](std::uint16_t, Completion completion) {
            forwarded->push_back(std::move(completion));
        };
    };
    const SecretBytes otherKey = host.pairDevice("ipad-b");
    host.listen();
    const std::vector<std::tuple<std::string, SecretBytes, std::function<void()>>> cases{
        {"ipad", key, [&] { ASSERT_TRUE(host.registry->remove("ipad")); }},
        {"ipad-b", otherKey, [&] { host.pairDevice("ipad-b"); }}};
    for (std::size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(index);
        const auto& [id, admitted, change] = cases[index];
        auto client = connect(*PreSharedKey::forDevice(id, admitted));
        client->send(Message::hello(client->hello(id, admitted)));
        ASSERT_TRUE(host.pumpUntil([&] { return forwarded->size() == index + 1; }));
        change();
        forwarded->back()(40'000);
        ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == index + 1; }));
        host.queue->advance(HostSession::cancelDelay);
        ASSERT_TRUE(host.pumpUntil([&] { return client->hasSeen<ControlChannel::Event::Closed>(); }));
        EXPECT_EQ(client->bye(), ByeReason::notPaired);
        EXPECT_FALSE(client->hostHello());
    }
    EXPECT_TRUE(host.authenticated.values().empty());
    // They hold the session's queue.
    forwarded->clear();
}

// A connection costs nothing of the desktop until it is admitted, and then only what it uses: the
// desktop for a glimpse, the desktop and the text focus for a main session, input from its first stream.
TEST_F(HostSessionTest, MakesTheDesktopsPartsOnlyOnceAdmittedAndNeeded) {
    host.listen();
    using Made = std::tuple<int, int, int>;
    const auto made = [&] { return Made(host.made.desktops, host.made.inputs, host.made.textFocuses); };
    auto silent = connect(deviceKey());
    auto refused = connect(deviceKey());
    auto hello = refused->hello("ipad", key);
    hello.proof = Random::bytes(32);
    refused->send(Message::hello(hello));
    ASSERT_TRUE(host.pumpUntil([&] { return refused->bye().has_value(); }));
    host.queue->advance(HostSession::helloTimeout);
    ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == 2; }));
    EXPECT_EQ(made(), Made(0, 0, 0));

    EXPECT_TRUE(glimpse());
    EXPECT_EQ(made(), Made(1, 0, 0));

    auto client = startMain();
    EXPECT_EQ(made(), Made(2, 0, 1));
    client->send(Message::configureStream(StreamRequest{}));
    client->send(Message::configureStream(StreamRequest{}));
    client->send(Message::ping(1, 1));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::Pong>); }));
    EXPECT_EQ(made(), Made(2, 1, 1));
}

TEST_F(HostSessionTest, RaisesTheCurtainAtHelloWhenTheDevicePolicyAsks) {
    host.registry->setDevicePolicy("ipad", std::nullopt, true);
    host.listen();
    auto client = startMain();
    EXPECT_EQ(client->hostHello().value().curtain, CurtainState({.available = true, .on = true}));
}

std::vector<ControlMessage> textFocusMessages(const TestClient& client) {
    std::vector<ControlMessage> told;
    for (const auto& message : client.received()) {
        if (message.isOneOf<Message::TextInputFocus, Message::TextInputArea>()) {
            told.push_back(message);
        }
    }
    return told;
}

// The field's frame is measured against the described screen, which lies beside another here.
TEST_F(HostSessionTest, TellsWhereTextGoesOnlyWhileAStreamIsDescribed) {
    host.desktop->area = SessionDesktop::Area{.x = 100, .y = 50, .width = 1024, .height = 512};
    host.listen();
    auto client = startMain();
    EXPECT_TRUE(host.textFocus->take().empty()) << "nothing to type into before a stream";
    const auto streams = [&] {
        const auto received = client->received();
        return std::count_if(received.begin(), received.end(), isMessage<Message::StreamStarted>);
    };
    const auto pong = [&](std::uint32_t id) {
        client->send(Message::ping(id, 0));
        return host.pumpUntil([&] {
            return client->hasReceived([id](const auto& m) {
                return isMessage<Message::Pong>(m) && m.template get<Message::Pong>()->id == id;
            });
        });
    };

    client->send(Message::configureStream(StreamRequest{}));
    ASSERT_TRUE(host.pumpUntil([&] { return streams() == 1; }));
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"start"});
    host.textFocus->report(true);
    host.textFocus->reportArea(Rect{{356, 178}, {512, 64}});
    host.textFocus->reportArea(Rect{{0, 0}, {90, 40}});
    ASSERT_TRUE(pong(1));
    EXPECT_EQ(textFocusMessages(*client),
              (std::vector{Message::textInputFocus(true),
                           Message::textInputArea(TextInputArea{0.25, 0.25, 0.5, 0.125}),
                           Message::textInputArea(std::nullopt)}));

    // What the paused watch, or the one before a new stream, still reports goes nowhere.
    const test::RecordingTextFocus earlier = *host.textFocus;
    client->send(Message::pauseStream());
    ASSERT_TRUE(pong(2));
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"stop"});
    earlier.report(false);
    client->send(Message::configureStream(StreamRequest{}));
    ASSERT_TRUE(host.pumpUntil([&] { return streams() == 2; }));
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"start"});
    earlier.report(false);
    host.textFocus->report(true);
    ASSERT_TRUE(pong(3));
    EXPECT_EQ(textFocusMessages(*client).size(), 4u);
    EXPECT_EQ(textFocusMessages(*client).back(), Message::textInputFocus(true));

    host.session(0)->close(std::nullopt);
    ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == 1; }));
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"stop"});
}

// The streamed screen stood right of another; that one is unplugged, so the streamed one moves to the
// left edge, and then it is unplugged too. Input and the text field's frame follow it, then stop.
TEST_F(HostSessionTest, FollowsTheStreamedScreenWhenItMovesAndLetsGoWhenItIsGone) {
    host.desktop->area = SessionDesktop::Area{.x = 1920, .y = 0, .width = 1280, .height = 720};
    host.listen();
    auto client = startMain();
    const auto changes = [&] {
        const auto received = client->received();
        return std::count_if(received.begin(), received.end(), isMessage<Message::DisplaysChanged>);
    };
    client->send(Message::configureStream(StreamRequest{}));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::StreamStarted>); }));
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"start"});

    const SessionDesktop::Area moved{.x = 0, .y = 0, .width = 1280, .height = 720};
    host.desktop->changeScreens({{7, "Test screen", 1280, 720, 1280, 720, true}}, moved);
    ASSERT_TRUE(host.pumpUntil([&] { return changes() == 1; }));
    EXPECT_EQ(host.input->screen, moved);
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"start"});
    host.textFocus->reportArea(Rect{{320, 180}, {640, 90}});
    ASSERT_TRUE(host.pumpUntil([&] { return !textFocusMessages(*client).empty(); }));
    EXPECT_EQ(textFocusMessages(*client).back(),
              Message::textInputArea(TextInputArea{0.25, 0.25, 0.5, 0.125}));

    host.desktop->changeScreens({}, std::nullopt);
    ASSERT_TRUE(host.pumpUntil([&] { return changes() == 2; }));
    EXPECT_EQ(host.input->screen, std::nullopt) << "nothing plays where the screen was";
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"stop"});
}

TEST_F(HostSessionTest, WatchesTheTextFocusLessOftenWhileNoInputComes) {
    host.listen();
    auto client = startMain();
    client->send(Message::configureStream(StreamRequest{}));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::StreamStarted>); }));
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"start"});

    host.queue->advance(HostSession::textFocusQuietAfter);
    EXPECT_TRUE(host.textFocus->take().empty());
    host.queue->advance(HostSession::idleTickInterval);
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"quiet"});
    host.queue->advance(3 * HostSession::idleTickInterval);
    EXPECT_TRUE(host.textFocus->take().empty());

    client->send(InputEvent::keyDown(4));
    ASSERT_TRUE(host.pumpUntil([&] { return host.input->events.size() == 1; }));
    EXPECT_EQ(host.textFocus->take(), std::vector<std::string>{"awake"});
}

// The settings may hold a time-out no person could choose: the device's card then says it is never
// disconnected for being idle, and so must the session and the host's hello.
TEST_F(HostSessionTest, TakesAStoredTimeoutOfNoPositiveFiniteLengthAsNoLimit) {
    host.listen();
    std::size_t ends = 0;
    for (const double stored : {0.0, -30.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        host.registry->update("ipad", [&](PairedDevice& device) { device.idleTimeout = stored; });
        auto client = startMain();
        ASSERT_TRUE(client->hostHello());
        EXPECT_FALSE(client->hostHello()->idleTimeout) << stored;
        host.queue->advance(300s);
        EXPECT_EQ(host.ended.values().size(), ends) << stored;
        EXPECT_FALSE(client->hasReceived(isMessage<Message::IdleWarning>)) << stored;
        client->send(Message::bye(ByeReason::userDisconnected));
        ++ends;
        ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == ends; }));
    }
}

// How each end reaches the client, the history, the curtain and the input.
struct EndingRow {
    const char* name;
    std::function<void(HostSession&, TestClient&, SessionHarness&)> cause;
    bool understandsPolicy;
    std::optional<ByeReason> goodbye;
    Ending ending;
};

class SessionEndingTest : public HostSessionTest, public ::testing::WithParamInterface<EndingRow> {};

TEST_P(SessionEndingTest, EndsOnceAsTheTableSays) {
    const auto& row = GetParam();
    host.registry->setDevicePolicy("ipad", 90s, false);
    host.listen();
    auto client = startMain(row.understandsPolicy);
    // A stream, so that there is input to let go of.
    client->send(Message::configureStream(StreamRequest{}));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(isMessage<Message::StreamStarted>); }));
    row.cause(*host.session(0), *client, host);
    ASSERT_TRUE(host.pumpUntil([&] { return host.ended.values().size() == 1; }));
    const auto end = host.ended.values()[0];
    EXPECT_EQ(end.ending, row.ending);
    ASSERT_TRUE(end.snapshot);
    EXPECT_EQ(end.snapshot->deviceID, "ipad");
    EXPECT_EQ(host.history->log().records.front().ending, row.ending);
    // A replaced session's successor holds the curtain, the quit locks on its own, a lost client may come
    // back.
    EXPECT_EQ(host.curtain->endings,
              std::vector{row.ending != Ending::connectionLost && row.ending != Ending::replaced &&
                          row.ending != Ending::hostQuit});
    EXPECT_EQ(host.input->releases, 1);
    EXPECT_TRUE(host.desktop->stopped);

    // Nothing after the end reaches the input, and the channel closes.
    client->send(InputEvent::keyDown(6));
    host.queue->advance(HostSession::cancelDelay);
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasSeen<ControlChannel::Event::Closed>(); }));
    EXPECT_TRUE(host.input->events.empty());
    EXPECT_EQ(client->bye(), row.goodbye);
    // Only a client that understands the policy messages is warned before an idle end.
    EXPECT_EQ(client->hasReceived(isMessage<Message::IdleWarning>),
              row.ending == Ending::idleTimeout && row.understandsPolicy);
    host.session(0)->close(ByeReason::hostQuit);
    host.queue->runUntilIdle();
    EXPECT_EQ(host.ended.values().size(), 1u);
}

void closeWith(ByeReason reason, HostSession& session, TestClient&, SessionHarness&) {
    session.close(reason);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SessionEndingTest,
    ::testing::Values(
        EndingRow{"clientBye",
                  [](auto&, TestClient& c, auto&) { c.send(Message::bye(ByeReason::userDisconnected)); },
                  true, std::nullopt, Ending::disconnected},
        EndingRow{"replaced", std::bind_front(closeWith, ByeReason::replacedByNewSession), true,
                  ByeReason::replacedByNewSession, Ending::replaced},
        EndingRow{"hostQuit", std::bind_front(closeWith, ByeReason::hostQuit), true, ByeReason::hostQuit,
                  Ending::hostQuit},
        EndingRow{"poweringOff", std::bind_front(closeWith, ByeReason::poweringOff), true,
                  ByeReason::poweringOff, Ending::hostQuit},
        EndingRow{"remoteAccessDisabled", std::bind_front(closeWith, ByeReason::remoteAccessDisabled), true,
                  ByeReason::remoteAccessDisabled, Ending::endedHere},
        EndingRow{"idle", [](auto&, auto&, SessionHarness& h) { h.queue->advance(91s); }, true,
                  ByeReason::idleTimeout, Ending::idleTimeout},
        EndingRow{"idleOlderClient", [](auto&, auto&, SessionHarness& h) { h.queue->advance(91s); }, false,
                  ByeReason::remoteAccessDisabled, Ending::idleTimeout},
        EndingRow{"secondHello",
                  [](auto&, TestClient& c, auto&) { c.send(Message::hello(c.hello("ipad", {}))); }, true,
                  ByeReason::notPaired, Ending::endedHere},
        EndingRow{"lost", [](auto&, TestClient& c, auto&) { c.drop(); }, true, std::nullopt,
                  Ending::connectionLost}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace velm
