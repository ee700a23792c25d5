#include "Velm_Host/ui/AwaySection.h"
#include "Velm_Host/ui/HistoryRow.h"
#include "Velm_Host/ui/HistorySection.h"
#include "Velm_Host/ui/HistorySheet.h"
#include "Velm_Host/ui/HostView.h"
#include "Velm_Host/ui/MoreOptionsSection.h"
#include "Velm_Host/ui/NeedsAttentionSection.h"
#include "Velm_Host/ui/OpenPairing.h"
#include "Velm_Host/ui/PairingCodeRow.h"
#include "Velm_Host/ui/PermissionRow.h"
#include "Velm_Host/ui/PlainLabel.h"
#include "Velm_Host/ui/ToggleRow.h"
#include "tests/support/ChildWidgets.h"
#include "tests/support/WidgetShots.h"
#include "tests/ui/WindowHarness.h"
#include "transport/channel/VelmService.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QChildEvent>
#include <QComboBox>
#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace velm {
namespace {

using namespace std::chrono_literals;

QPushButton* buttonTitled(const QWidget& parent, const QString& title) {
    for (auto* button : parent.findChildren<QPushButton*>()) {
        if (button->text() == title) {
            return button;
        }
    }
    return nullptr;
}

// Every text the window shows a person: labels, button titles and tool tips.
std::vector<std::string> shownTexts(const QWidget& root) {
    std::vector<std::string> texts;
    for (const auto* widget : root.findChildren<QWidget*>()) {
        if (const auto* label = dynamic_cast<const PlainLabel*>(widget)) {
            texts.push_back(label->fullText().toStdString());
        } else if (const auto* button = dynamic_cast<const QAbstractButton*>(widget)) {
            texts.push_back(button->text().toStdString());
        }
        texts.push_back(widget->toolTip().toStdString());
    }
    return texts;
}

// The main window's form over a started model; the model's changes reach it as the application
// hands them on.
class HostViewTest : public testing::Test {
protected:
    HostViewTest() {
        window.host.start();
        view = std::make_unique<HostView>(window.host.model, window.viewOptions());
        window.host.model->setOnChange([this] { view->refresh(); });
        window.settle();
    }
    ~HostViewTest() override { window.host.model->setOnChange(nullptr); }

    std::string caption() const { return view->pairingRow()->caption()->fullText().toStdString(); }
    void later(std::chrono::seconds time) {
        window.host.queue->advance(time);
        window.settle();
    }
    void shot(const std::string& name) { test::writeWidgetShot(*view, HostView::formWidth, name); }

    test::WindowHarness window;
    std::unique_ptr<HostView> view;
};

TEST_F(HostViewTest, WithNothingPairedItSaysReadyAndOffersPairing) {
    EXPECT_EQ(view->statusLine(), (StatusLine{.text = "Ready · away: off", .tint = Tint::green}));
    EXPECT_TRUE(view->remoteAccess()->isOn());
    EXPECT_FALSE(view->pairButton()->isHidden());
    EXPECT_TRUE(view->pairingRow()->isHidden());
    EXPECT_FALSE(view->away()->reachable()->isOn());
    EXPECT_TRUE(view->away()->accessDays()->parentWidget()->isHidden()) << "no duration while away is off";
    shot("ui_window_empty");
}

TEST_F(HostViewTest, PairingFromTheWindowCountsDownOnTheModelsClockUntilItCloses) {
    view->pairButton()->click();
    window.settle();
    const auto opened = window.host.model->state().pairingWindow;
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->wrongTriesLeft, 5);
    EXPECT_FALSE(opened->reusable);
    EXPECT_EQ(view->pairingRow()->code()->fullText().toStdString(), VelmService::displayCode(opened->code));
    EXPECT_EQ(caption(), "Enter it in Velm on the device within 2:00.");
    EXPECT_TRUE(view->pairButton()->isHidden());
    shot("ui_window_pairing");

    // A second opening (another press, --pair) keeps the code the user may be typing.
    EXPECT_EQ(openPairing(*window.host.model->registry()), *opened);
    later(1s);
    EXPECT_EQ(caption(), "Enter it in Velm on the device within 1:59.");
    later(59s);
    EXPECT_EQ(caption(), "Enter it in Velm on the device within 1:00.");
    EXPECT_EQ(window.host.model->state().pairingWindow, opened);

    view->pairingRow()->cancelButton()->click();
    window.settle();
    EXPECT_FALSE(window.host.model->state().pairingWindow);
    EXPECT_TRUE(view->pairingRow()->isHidden());
    EXPECT_FALSE(view->pairingRow()->isCountingDown());
    EXPECT_FALSE(view->pairButton()->isHidden());

    // A window left alone ends with the model's timer, and its countdown with it.
    view->pairButton()->click();
    window.settle();
    EXPECT_TRUE(view->pairingRow()->isCountingDown());
    later(119s);
    EXPECT_EQ(caption(), "Enter it in Velm on the device within 0:01.");
    later(1s);
    EXPECT_FALSE(window.host.model->state().pairingWindow);
    EXPECT_TRUE(view->pairingRow()->isHidden());
    EXPECT_FALSE(view->pairingRow()->isCountingDown());
}

TEST_F(HostViewTest, ACarriedOverCodeShowsWithoutACountdown) {
    window.host.model->registry()->openPairing("424242", std::nullopt, 20, false);
    window.settle();
    EXPECT_EQ(view->pairingRow()->code()->fullText(), "424 242");
    EXPECT_EQ(caption(), "Carried over from an earlier version; gone once used.");
    EXPECT_FALSE(view->pairingRow()->isCountingDown());
}

TEST_F(HostViewTest, TheSwitchesAndTheDurationWriteTheSettings) {
    const auto storedBool = [&](const char* key) {
        return DefaultsStore(window.host.folder / "config").boolValue(key);
    };

    view->remoteAccess()->toggle()->click();
    window.settle();
    EXPECT_EQ(storedBool("allowRemoteAccess"), false);
    EXPECT_EQ(view->statusLine(), (StatusLine{.text = "Off", .tint = Tint::secondary}));
    EXPECT_FALSE(view->away()->reachable()->isEnabled());

    view->remoteAccess()->toggle()->click();
    view->away()->reachable()->toggle()->click();
    window.settle();
    EXPECT_EQ(storedBool("allowRemoteAccess"), true);
    EXPECT_EQ(storedBool("allowAwayAccess"), true);
    QComboBox* days = view->away()->accessDays();
    EXPECT_FALSE(days->parentWidget()->isHidden());
    ASSERT_EQ(days->count(), 4);
    EXPECT_EQ(days->currentText(), "30 days");
    EXPECT_EQ((std::vector{days->itemText(0), days->itemText(1), days->itemText(3)}),
              (std::vector<QString>{"1 day", "7 days", "Always"}));
    days->setCurrentIndex(1);
    emit days->activated(1);
    window.settle();
    EXPECT_EQ(DefaultsStore(window.host.folder / "config").integerValue("awayAccessDays"), 7);

    MoreOptionsSection& more = *view->moreOptions();
    EXPECT_TRUE(more.withoutDeviceKey()->isHidden()) << "collapsed at first";
    EXPECT_TRUE(more.addresses()->isHidden());
    // Remote access switched back on starts the listener again; its addresses show once it advertises.
    ASSERT_TRUE(window.advertising());
    more.expandButton()->click();
    window.settle();
    EXPECT_EQ(more.expandButton()->text(), "Hide");
    EXPECT_FALSE(more.withoutDeviceKey()->isHidden());
    EXPECT_FALSE(more.addresses()->isHidden());
    more.withoutDeviceKey()->toggle()->click();
    window.settle();
    EXPECT_EQ(storedBool("allowsAwayWithoutDeviceKey"), false);
}

TEST_F(HostViewTest, OpeningAtLoginIsTurnedOnFromItsRowAndOffFromMoreOptions) {
    view->moreOptions()->expandButton()->click();
    ASSERT_FALSE(std::filesystem::exists(window.autostartEntry));
    EXPECT_TRUE(view->moreOptions()->openAtLogin()->isHidden()) << "turning it on is the row's job";
    QPushButton* turnOn = buttonTitled(*view->needsAttention(), "Turn On");
    ASSERT_NE(turnOn, nullptr);
    turnOn->click();
    window.settle();
    EXPECT_TRUE(std::filesystem::exists(window.autostartEntry));
    EXPECT_EQ(buttonTitled(*view->needsAttention(), "Turn On"), nullptr);
    ToggleRow* openAtLogin = view->moreOptions()->openAtLogin();
    EXPECT_FALSE(openAtLogin->isHidden());
    EXPECT_TRUE(openAtLogin->isOn());
    shot("ui_window_more_options");

    openAtLogin->toggle()->click();
    window.settle();
    EXPECT_FALSE(std::filesystem::exists(window.autostartEntry));
    EXPECT_TRUE(openAtLogin->isHidden());
}

TEST_F(HostViewTest, ItCallsTheComputerByWhatItIs) {
    const auto client = window.connectDevice("Studio iPad");
    ASSERT_NE(client, nullptr);
    QPushButton* disconnect = buttonTitled(*view->cards(), "Disconnect");
    ASSERT_NE(disconnect, nullptr);
    disconnect->click();
    ASSERT_TRUE(window.host.pumpUntil([&] { return test::byeReason(*client).has_value(); }));
    view->away()->reachable()->toggle()->click();
    view->moreOptions()->expandButton()->click();
    window.settle();

    const auto texts = shownTexts(*view);
    const auto shows = [&](const std::string& text) {
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::string& shown) { return shown.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(shows("Paired devices reach this computer from anywhere, with Face ID."));
    EXPECT_TRUE(shows("To connect over a VPN, give the device this computer's VPN address: ··· beside the "
                      "computer's name in Velm, Address…."));
    EXPECT_TRUE(shows(" · ended from this computer"));
    EXPECT_FALSE(shows("Mac"));
}

TEST_F(HostViewTest, TwoDevicesWithALiveSessionAndRemovingThemAll) {
    window.pairDevice("Kitchen iPad");
    const auto client = window.connectDevice("Studio iPad");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(view->statusLine(), (StatusLine{.text = "Studio iPad connected", .tint = Tint::green}));
    EXPECT_NE(view->cards()->card("Studio iPad"), nullptr);
    EXPECT_NE(view->cards()->card("Kitchen iPad"), nullptr);
    shot("ui_window_session");

    view->history()->showAll();
    window.settle();
    ASSERT_NE(view->history()->sheet(), nullptr);
    test::writeScreenshot(view->history()->sheet()->grab().toImage(), "ui_window_history_sheet");
    view->history()->sheet()->close();

    QPushButton* removeAll = buttonTitled(*view->cards(), "Remove All…");
    ASSERT_NE(removeAll, nullptr);
    removeAll->click();
    ASSERT_NE(view->removeAllQuestion(), nullptr);
    EXPECT_EQ(view->removeAllQuestion()->text(), "Remove every paired device?");
    EXPECT_EQ(window.host.model->state().devices.size(), 2u) << "nothing happens before the answer";
    buttonTitled(*view->removeAllQuestion(), "Remove All Devices")->click();
    ASSERT_TRUE(window.host.pumpUntil([&] { return test::byeReason(*client).has_value(); }));
    EXPECT_EQ(test::byeReason(*client), ByeReason::remoteAccessDisabled);
    window.settle();
    EXPECT_TRUE(window.host.model->state().devices.empty());
    EXPECT_EQ(view->cards()->card("Studio iPad"), nullptr);
}

// Counts the history rows put into the widget it watches.
class RowsMade : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ChildAdded &&
            dynamic_cast<HistoryRow*>(static_cast<QChildEvent*>(event)->child()) != nullptr) {
            ++count;
        }
        return QObject::eventFilter(watched, event);
    }
};

// A device turned away as fast as it retries fills the history as fast. The open sheet shows such a
// burst once: rebuilding every row for each record would fall behind the records and pile work up on
// the main queue, the window frozen meanwhile.
TEST_F(HostViewTest, ABurstOfRecordsIsShownOnceInTheOpenSheet) {
    const auto history = window.host.model->history();
    const ConnectionHistory::Peer peer{.deviceID = "Kitchen iPad", .deviceName = "Kitchen iPad"};
    const auto turnAway = [&](int times) {
        for (int time = 0; time < times; ++time) {
            history->recordRefusal(ConnectionRecord::Refusal::keyDidNotMatch, peer);
        }
        window.settle();
    };
    turnAway(60);
    view->history()->showAll();
    window.settle();
    HistorySheet* sheet = view->history()->sheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_EQ(test::childWidgets<HistoryRow>(*sheet).size(), 60u);
    RowsMade made;
    test::childWidget<HistoryRow>(*sheet)->parentWidget()->installEventFilter(&made);

    turnAway(40);
    EXPECT_EQ(test::childWidgets<HistoryRow>(*sheet).size(), 100u);
    EXPECT_EQ(test::childWidgets<HistoryRow>(*view->history()).size() -
                  test::childWidgets<HistoryRow>(*sheet).size(),
              std::size_t{HistorySection::shownRecords});
    EXPECT_LE(made.count, 100) << "the sheet's rows made once for the burst";
    sheet->close();
}

TEST(HostViewParts, IdleTimeoutsFromTheCardsBecomeWholeSecondsOrNone) {
    EXPECT_EQ(HostView::idleTimeout(900.0), std::chrono::seconds(900));
    EXPECT_EQ(HostView::idleTimeout(std::nullopt), std::nullopt);
    EXPECT_EQ(HostView::idleTimeout(0.0), std::nullopt);
    EXPECT_EQ(HostView::idleTimeout(-5.0), std::nullopt);
    EXPECT_EQ(HostView::idleTimeout(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(HostView::idleTimeout(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(HostView::idleTimeout(1e12), std::chrono::seconds(366 * 86400));
}

TEST(HostViewParts, TheCountdownReadsAsATimer) {
    EXPECT_EQ(PairingCodeRow::countdownText(120), "2:00");
    EXPECT_EQ(PairingCodeRow::countdownText(119.2), "2:00");
    EXPECT_EQ(PairingCodeRow::countdownText(5), "0:05");
    EXPECT_EQ(PairingCodeRow::countdownText(-3), "0:00");
    EXPECT_EQ(PairingCodeRow::countdownText(3600), "1:00:00");
    EXPECT_EQ(PairingCodeRow::countdownText(std::numeric_limits<double>::quiet_NaN()), "0:00");
    EXPECT_EQ(PairingCodeRow::countdownText(1e300), "99:00:00");
}

} // namespace
} // namespace velm
