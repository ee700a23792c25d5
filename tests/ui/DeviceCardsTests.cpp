#include "Velm_Host/core/SnapshotStore.h"
#include "Velm_Host/ui/DeviceCard.h"
#include "Velm_Host/ui/DeviceCards.h"
#include "Velm_Host/ui/DevicePortrait.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/QtEvents.h"
#include "tests/support/Screenshots.h"
#include "tests/support/TemporaryFolder.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace velm {
namespace {

const Date now(818'337'600); // 2026-12-07 12:00 UTC
constexpr int wheelNotch() {
    return QWheelEvent::DefaultDeltasPerStep;
}
constexpr double day = 86400;

HostSession::Snapshot session(std::string id) {
    HostSession::Snapshot snapshot;
    snapshot.deviceID = std::move(id);
    return snapshot;
}

PairedDevice device(std::string id, std::optional<DeviceModel> model = std::nullopt) {
    PairedDevice made;
    made.id = id;
    made.name = "Anna's " + id;
    made.pairedAt = Date(now.secondsSinceReferenceDate() - 20 * day);
    made.lastConnected = Date(now.secondsSinceReferenceDate() - day);
    made.model = std::move(model);
    return made;
}

class CardsTest : public ::testing::Test {
protected:
    CardsTest() {
        cards->resize(520, 420);
        cards->show();
        cards->setOnDisconnect([this](const std::string& id) { disconnected.push_back(id); });
        cards->setOnSetPolicy([this](const PairedDevice& chosen, std::optional<double> idle, bool curtain) {
            policies.push_back({chosen.id, idle, curtain});
        });
        cards->setOnRemove([this](const PairedDevice& chosen) { removed.push_back(chosen.id); });
        cards->setOnRemoveAll([this] { ++removeAllRequests; });
    }

    DeviceCards::Options options(std::chrono::milliseconds tick = std::chrono::seconds(30)) {
        DeviceCards::Options made;
        made.snapshots = SnapshotWatch::make(store);
        made.pictureQueue = loads;
        made.devicePicture = [](const std::string&) { return std::optional<QImage>(); };
        made.clock = [this] { return clock; };
        made.tick = tick;
        // The cards settle on a whole card as soon as the test hands control back to the event loop.
        made.scrollSettle = std::chrono::milliseconds(0);
        made.dates = DateTexts("en_US", "UTC");
        return made;
    }

    void show(DeviceCardsState state) {
        cards->setState(std::move(state));
        for (int round = 0; round < 3; ++round) {
            loads->runUntilIdle();
            QCoreApplication::processEvents();
        }
    }

    QString line(const std::string& id, const char* name) const {
        return cards->card(id)->findChild<QLabel*>(name)->text();
    }
    bool shows(const std::string& id, const char* control) const {
        return cards->card(id)->findChild<QWidget*>(control)->isVisibleTo(cards.get());
    }
    QAction* policyAction(const std::string& id, const QString& text) const {
        for (QAction* action : cards->card(id)->policyMenu()->actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }

    struct Policy {
        std::string id;
        std::optional<double> idleTimeout;
        bool curtain;
        friend bool operator==(const Policy&, const Policy&) = default;
    };

    test::TemporaryFolder temporary;
    std::shared_ptr<ManualQueue> storeQueue = std::make_shared<ManualQueue>("velm.snapshots");
    std::shared_ptr<SnapshotStore> store =
        SnapshotStore::make(temporary / "snapshots", storeQueue, std::make_shared<ManualQueue>("main"));
    std::shared_ptr<ManualQueue> loads = std::make_shared<ManualQueue>("loads");
    Date clock = now;
    std::unique_ptr<DeviceCards> cards = std::make_unique<DeviceCards>(options());
    std::vector<std::string> disconnected;
    std::vector<Policy> policies;
    std::vector<std::string> removed;
    int removeAllRequests = 0;
};

TEST_F(CardsTest, ANoteUntilADeviceIsPairedAndRemoveAllFromTwoDevices) {
    show({});
    EXPECT_TRUE(cards->findChild<QLabel*>("empty")->isVisibleTo(cards.get()));
    auto* removeAll = cards->findChild<QPushButton*>("removeAll");

    show({.devices = {device("ipad")}});
    EXPECT_FALSE(removeAll->isVisibleTo(cards.get()));
    show({.devices = {device("ipad"), device("phone")}});
    ASSERT_TRUE(removeAll->isVisibleTo(cards.get()));
    EXPECT_EQ(removeAll->text(), "Remove All…");
    removeAll->click();
    EXPECT_EQ(removeAllRequests, 1);
}

TEST_F(CardsTest, TheLiveCardComesFirstAndOnlyItDisconnectsItsOwnDevice) {
    DeviceCardsState state{.devices = {device("ipad"), device("phone")}};
    state.live = session("phone");
    show(state);
    const auto* row = cards->card("phone")->parentWidget()->layout();
    EXPECT_EQ(row->itemAt(0)->widget(), cards->card("phone"));
    EXPECT_EQ(row->itemAt(1)->widget(), cards->card("ipad"));
    EXPECT_EQ(line("phone", "status"), "Connected");
    EXPECT_EQ(line("ipad", "status"), "Last connected yesterday");
    EXPECT_FALSE(shows("ipad", "disconnect"));
    ASSERT_TRUE(shows("phone", "disconnect"));
    cards->card("phone")->findChild<QPushButton*>("disconnect")->click();
    EXPECT_EQ(disconnected, std::vector<std::string>{"phone"});
}

TEST_F(CardsTest, PolicyAndRemoveGoOutWithTheDeviceAsListed) {
    auto ipad = device("ipad");
    ipad.idleTimeout = 3600;
    ipad.curtain = true;
    DeviceCardsState state{.devices = {ipad}, .curtainCovers = true};
    show(state);
    EXPECT_EQ(line("ipad", "policy-line"), "Disconnects after 1 h idle · curtain");
    ASSERT_TRUE(policyAction("ipad", "1 h"));
    EXPECT_TRUE(policyAction("ipad", "1 h")->isChecked());
    policyAction("ipad", "15 min")->trigger();
    ASSERT_TRUE(policyAction("ipad", "Privacy Curtain"));
    policyAction("ipad", "Privacy Curtain")->trigger();
    EXPECT_EQ(policies, (std::vector<Policy>{{"ipad", 900, true}, {"ipad", 3600, false}}));

    state.curtainCovers = false;
    show(state);
    EXPECT_FALSE(policyAction("ipad", "Privacy Curtain")) << "no screen to cover";
    EXPECT_EQ(line("ipad", "policy-line"), "Disconnects after 1 h idle");

    cards->setOnRemove([this](const PairedDevice& chosen) {
        removed.push_back(chosen.id);
        show({}); // the owner removes it at once
    });
    cards->card("ipad")->findChild<QPushButton*>("remove")->click();
    EXPECT_EQ(removed, std::vector<std::string>{"ipad"});
    EXPECT_EQ(cards->card("ipad"), nullptr);
}

// The policy could not be saved, say, or the device had just gone: the model publishes nothing new.
TEST_F(CardsTest, AChoiceTheModelDidNotTakeLeavesTheMenuShowingThePolicyInForce) {
    auto ipad = device("ipad");
    ipad.idleTimeout = 3600;
    ipad.curtain = true;
    const DeviceCardsState state{.devices = {ipad}, .curtainCovers = true};
    show(state);
    policyAction("ipad", "15 min")->trigger();
    policyAction("ipad", "Privacy Curtain")->trigger();
    show(state);
    EXPECT_EQ(policies.size(), 2u);
    EXPECT_TRUE(policyAction("ipad", "1 h")->isChecked());
    EXPECT_FALSE(policyAction("ipad", "15 min")->isChecked());
    EXPECT_TRUE(policyAction("ipad", "Privacy Curtain")->isChecked());
    EXPECT_EQ(line("ipad", "policy-line"), "Disconnects after 1 h idle · curtain");
}

// The model's name comes from the device, as its own name does: line breaks in it would make its card,
// and the row of cards with it, as tall as they are many; a right-to-left one would reorder the line.
TEST_F(CardsTest, AModelNameFromTheDeviceKeepsToItsOneLine) {
    auto plain = device("plain", DeviceModel{"iPad13,4", "iPad Pro"});
    auto odd = device("odd", DeviceModel{"iPad13,4", "iPad\n\n\n\n\n\n\n\n\r\u2028Pro \u202e\u05d0\u05d1"});
    show({.devices = {plain, odd}});
    const QString shown = line("odd", "model");
    EXPECT_FALSE(shown.contains(QLatin1Char('\n')) || shown.contains(QLatin1Char('\r')) ||
                 shown.contains(QChar(0x2028)) || shown.contains(QChar(0x202e)))
        << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(QChar(0x2068)) && shown.endsWith(QChar(0x2069))) << "set apart";
    const auto* oddLine = cards->card("odd")->findChild<QLabel*>("model");
    const auto* plainLine = cards->card("plain")->findChild<QLabel*>("model");
    EXPECT_EQ(oddLine->heightForWidth(oddLine->width()), plainLine->heightForWidth(plainLine->width()));
    test::writeScreenshot(cards->grab().toImage(), "DeviceCards-odd-model-name");
}

TEST_F(CardsTest, ACardKeepsItsPictureWhileItsDevicesLooksStayTheSame) {
    auto ipad = device("ipad", DeviceModel{"iPad13,4", std::nullopt});
    show({.devices = {ipad}});
    DeviceCard* card = cards->card("ipad");
    const DevicePortrait* portrait = card->portrait();
    ASSERT_TRUE(portrait->hasLoaded());
    EXPECT_EQ(line("ipad", "model"), "iPad Pro 11-inch (3rd generation)");

    ipad.name = "<b>Renamed</b>";
    ipad.lastConnected = now;
    show({.devices = {ipad, device("phone")}});
    EXPECT_EQ(cards->card("ipad"), card);
    EXPECT_EQ(line("ipad", "name"), "<b>Renamed</b>");
    EXPECT_EQ(card->findChild<QLabel*>("name")->textFormat(), Qt::PlainText)
        << "a device's name is never markup";
    EXPECT_EQ(card->portrait(), portrait);
    EXPECT_EQ(portrait->loadGeneration(), 1u);

    ipad.screenAspect = 1.5;
    show({.devices = {ipad}});
    EXPECT_NE(card->portrait(), portrait) << "a new aspect is a new picture";
}

TEST_F(CardsTest, TextsFollowTheClockWithoutANewState) {
    cards = std::make_unique<DeviceCards>(options(std::chrono::milliseconds(5)));
    auto ipad = device("ipad");
    ipad.awayPublicKey = Bytes(65, 4);
    const Date end(now.secondsSinceReferenceDate() + 60);
    show(
        {.devices = {ipad}, .awayEnds = {{"ipad", end}}, .allowRemoteAccess = true, .allowAwayAccess = true});
    EXPECT_EQ(line("ipad", "away"), "Away until Dec 7");

    clock = Date(end.secondsSinceReferenceDate() + 2 * day);
    EXPECT_TRUE(test::processEventsUntil([&] {
        return line("ipad", "away") == "Away access lapsed: connect at home" &&
               line("ipad", "status") == "Last connected 3 days ago";
    })) << line("ipad", "away").toStdString();
}

// Turns of a mouse wheel (whole notches), a touchpad that says when the fingers lift (phases, pixels),
// and one that does not (X11: small turns, no phases), as the platform delivers them.
class CardsScrollTest : public CardsTest {
protected:
    CardsScrollTest() {
        show({.devices = {device("ipad"), device("phone"), device("mac"), device("watch")}});
        bar = cards->findChild<QScrollArea*>()->horizontalScrollBar();
        pitch = bar->singleStep();
    }

    // Whether the cards took the turn for themselves.
    bool turn(QPoint angle, QPoint pixels = {}, Qt::ScrollPhase phase = Qt::NoScrollPhase,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* viewport = cards->findChild<QScrollArea*>()->viewport();
        const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
        QWheelEvent wheel(at, viewport->mapToGlobal(at), pixels, angle, Qt::NoButton, modifiers, phase,
                          false);
        QCoreApplication::sendEvent(viewport, &wheel);
        return wheel.isAccepted();
    }
    void settle() { QCoreApplication::processEvents(); }

    QScrollBar* bar = nullptr;
    int pitch = 0;
};

TEST_F(CardsScrollTest, AWheelsNotchMovesOneCard) {
    ASSERT_EQ(bar->maximum(), 2 * pitch) << "four cards, two in sight";
    turn({-wheelNotch(), 0});
    EXPECT_EQ(bar->value(), pitch);
    turn({-2 * wheelNotch(), 0});
    EXPECT_EQ(bar->value(), 2 * pitch) << "no further than the last card";
    turn({0, wheelNotch()}, {}, Qt::NoScrollPhase, Qt::ShiftModifier);
    EXPECT_EQ(bar->value(), pitch) << "Shift turns the wheel sideways";
    EXPECT_FALSE(turn({0, wheelNotch()})) << "up and down is the form's";
    EXPECT_EQ(bar->value(), pitch);
}

TEST_F(CardsScrollTest, ATouchpadMovesWithTheFingersAndSettlesOnTheNearestCardWhenTheyLift) {
    turn({}, {}, Qt::ScrollBegin);
    for (int step = 0; step < 6; ++step) {
        turn({-pitch / 10 * 8, 0}, {-pitch / 10, 0}, Qt::ScrollUpdate);
    }
    EXPECT_EQ(bar->value(), pitch / 10 * 6) << "with the fingers, between two cards";
    turn({}, {}, Qt::ScrollEnd);
    settle();
    EXPECT_EQ(bar->value(), pitch);

    turn({}, {}, Qt::ScrollBegin);
    turn({}, {pitch / 4, 0}, Qt::ScrollUpdate);
    turn({}, {}, Qt::ScrollEnd);
    // The glide after the fingers lifted goes on before the cards settle.
    turn({}, {pitch / 10, 0}, Qt::ScrollMomentum);
    EXPECT_EQ(bar->value(), pitch - pitch / 4 - pitch / 10);
    settle();
    EXPECT_EQ(bar->value(), pitch);
}

TEST_F(CardsScrollTest, SmallTurnsWithoutPhasesSettleOnceTheyStop) {
    for (int step = 0; step < 5; ++step) {
        turn({-wheelNotch() / 8, 0});
    }
    EXPECT_GT(bar->value(), 0);
    EXPECT_LT(bar->value(), pitch);
    settle();
    EXPECT_EQ(bar->value(), pitch) << "five eighths of the way: the next card";
    for (int step = 0; step < 8; ++step) {
        turn({-wheelNotch() / 8, 0});
    }
    settle();
    EXPECT_EQ(bar->value(), 2 * pitch) << "a whole notch in small turns is one card";
}

TEST_F(CardsTest, DrawsACardForEveryShape) {
    const std::vector<DeviceModel> models = {{"StudioDisplay1,1", "Studio Display"},
                                             {"Macmini9,1", std::nullopt},
                                             {"Mac13,1", "Mac Studio"},
                                             {"MacPro7,1", std::nullopt},
                                             {"MacBookPro18,1", std::nullopt},
                                             {"iMac21,1", std::nullopt},
                                             {"iPad13,18", std::nullopt},
                                             {"iPad13,4", std::nullopt},
                                             {"iPad7,5", std::nullopt},
                                             {"iPhone15,2", std::nullopt}};
    DeviceCardsState state{.allowRemoteAccess = true, .allowAwayAccess = true, .curtainCovers = true};
    for (const DeviceModel& model : models) {
        auto made = device(model.identifier, model);
        made.curtain = true;
        made.idleTimeout = 900;
        state.devices.push_back(made);
    }
    state.devices[2].awayPublicKey = Bytes(65, 4);
    state.awayEnds[state.devices[2].id] = Date(now.secondsSinceReferenceDate() + 30 * day);
    state.live = session("iPad13,4");
    state.live->stream = StreamDescription{};
    state.live->stream->pixelWidth = 2388;
    state.live->stream->pixelHeight = 1668;
    state.live->stream->fps = 60;
    show(state);
    test::writeScreenshot(cards->grab().toImage(), "DeviceCards");
    for (const DeviceModel& model : models) {
        DeviceCard* card = cards->card(model.identifier);
        ASSERT_TRUE(card->portrait()->hasLoaded());
        const QImage image = card->grab().toImage();
        test::writeScreenshot(image, "DeviceCard-" + model.identifier);
        EXPECT_GT(image.height(), 150);
    }
}

} // namespace
} // namespace velm
