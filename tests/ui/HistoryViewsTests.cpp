#include "Velm_Host/ui/HistoryRow.h"
#include "Velm_Host/ui/HistorySection.h"
#include "Velm_Host/ui/HistorySheet.h"
#include "Velm_Host/ui/PlainLabel.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/ChildWidgets.h"
#include "tests/support/QtEvents.h"
#include "tests/support/WidgetShots.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace velm {
namespace {

using Kind = ConnectionRecord::Kind;
using Ending = ConnectionRecord::Ending;
using Route = ConnectionRecord::Route;

constexpr double minute = 60;

// A history in memory on a clock the test moves, and the views that show it.
class HistoryViews : public testing::Test {
protected:
    void TearDown() override { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    Uuid begin(Kind kind, const std::string& id, const std::string& name, Route route = Route::home) {
        return history->begin(kind,
                              {.deviceID = id, .deviceName = name, .route = route, .forwardSecret = true});
    }
    void session(const std::string& id, const std::string& name, double minutes, Ending ending) {
        const Uuid record = begin(Kind::session, id, name);
        later(minutes * minute);
        history->end(record, ending);
        later(2 * minute); // so the next one is a session of its own
    }
    void later(double seconds) { now = Date(now.secondsSinceReferenceDate() + seconds); }

    // The row titles a widget shows, top to bottom (rows are made in the order they are laid out).
    static std::vector<std::string> titles(const QWidget& widget) {
        std::vector<std::string> out;
        for (const auto* row : test::childWidgets<HistoryRow>(widget)) {
            out.push_back(row->title()->fullText().toStdString());
        }
        return out;
    }

    template <class Button> static Button* titled(const QList<Button*>& buttons, const QString& text) {
        const auto found =
            std::find_if(buttons.begin(), buttons.end(), [&](auto* b) { return b->text() == text; });
        return found == buttons.end() ? nullptr : *found;
    }

    static std::vector<std::string> choices(const QComboBox& box) {
        std::vector<std::string> out;
        for (int i = 0; i < box.count(); ++i) {
            out.push_back(box.itemText(i).toStdString());
        }
        return out;
    }

    Date now{757857600};
    std::shared_ptr<DefaultsStore> defaults = std::make_shared<DefaultsStore>();
    std::shared_ptr<ConnectionHistory> history = ConnectionHistory::make(
        defaults, std::make_shared<ManualQueue>("main"), {.now = [this] { return now; }});
    std::shared_ptr<const HistoryDates> dates = std::make_shared<HistoryDates>(
        HistoryDates::Options{.locale = "en_US", .timeZone = "UTC", .now = [this] { return now; }});
};

TEST_F(HistoryViews, TheSectionShowsTheThreeNewestOrSaysThereIsNothing) {
    HistorySection section(history, dates);
    EXPECT_TRUE(section.showAllButton()->isHidden());
    EXPECT_TRUE(titles(section).empty());
    const auto empty = test::childWidgets<PlainLabel>(section);
    EXPECT_TRUE(std::any_of(empty.begin(), empty.end(), [](const PlainLabel* label) {
        return label->text() == "Nothing yet. Each session, file and turned-away try is listed here.";
    }));
    test::writeWidgetShot(section, 520, "ui_history_section_empty");

    session("d1", "Studio iPad", 12, Ending::disconnected);
    session("d2", "Kitchen iPhone", 95, Ending::connectionLost);
    begin(Kind::file, "d1", "Studio iPad");
    later(30);
    begin(Kind::session, "d3", "Travel iPad", Route::door);
    section.refresh();
    EXPECT_FALSE(section.showAllButton()->isHidden());
    EXPECT_EQ(titles(section),
              (std::vector<std::string>{"Travel iPad", "Studio iPad: a file", "Kitchen iPhone"}));
    test::writeWidgetShot(section, 520, "ui_history_section");
}

TEST_F(HistoryViews, TheSheetFiltersByDeviceAndClearsOnlyWhatHasEndedAfterAsking) {
    session("d1", "iPad", 5, Ending::disconnected);
    session("d2", "iPhone", 5, Ending::idleTimeout);
    history->recordRefusal(
        ConnectionRecord::Refusal::keyDidNotMatch,
        {.deviceID = "d3", .deviceName = "Stranger", .route = Route::elsewhere, .from = "10.0.0.9"});
    later(minute);
    begin(Kind::session, "d1", "Studio iPad");

    HistorySection section(history, dates);
    section.showAllButton()->click();
    HistorySheet* sheet = section.sheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    auto* devices = sheet->findChild<QComboBox*>();
    ASSERT_NE(devices, nullptr);
    EXPECT_EQ(choices(*devices),
              (std::vector<std::string>{"All Devices", "Studio iPad", "Stranger", "iPhone"}));
    EXPECT_EQ(titles(*sheet),
              (std::vector<std::string>{"Studio iPad", "Stranger: turned away", "iPhone", "iPad"}));
    test::writeScreenshot(sheet->grab().toImage(), "ui_history_sheet");

    devices->setCurrentIndex(1);
    EXPECT_EQ(sheet->chosenDevice(), "d1");
    EXPECT_EQ(titles(*sheet), (std::vector<std::string>{"Studio iPad", "iPad"}));

    QPushButton* clear = titled(sheet->findChildren<QPushButton*>(), "Clear History…");
    ASSERT_NE(clear, nullptr);
    ASSERT_TRUE(clear->isEnabled());
    clear->click();
    auto* question = sheet->findChild<QMessageBox*>();
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(question->isVisible());
    EXPECT_EQ(question->text(), "Clear the history?");
    EXPECT_EQ(history->log().records.size(), 4u) << "nothing happens before the answer";
    test::writeScreenshot(question->grab().toImage(), "ui_history_clear_question");
    QAbstractButton* confirm = titled(question->buttons(), "Clear History");
    ASSERT_NE(confirm, nullptr);
    confirm->click();

    // The running session stays, so that its end is still recorded; the store holds the same.
    const ConnectionLog cleared = history->log();
    ASSERT_EQ(cleared.records.size(), 1u);
    EXPECT_TRUE(cleared.records[0].isOpen());
    const auto stored = defaults->jsonValue("connectionHistory");
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)["records"].size(), 1u);
    EXPECT_EQ(sheet->chosenDevice(), "d1");
    EXPECT_EQ(titles(*sheet), std::vector<std::string>{"Studio iPad"});
    EXPECT_TRUE(clear->isEnabled());

    // With the running session gone too, the chosen device stays chosen, with nothing to list.
    history->end(cleared.records[0].id, Ending::disconnected);
    sheet->clearHistory();
    EXPECT_EQ(sheet->chosenDevice(), "d1");
    EXPECT_EQ(devices->currentText(), "Studio iPad");
    EXPECT_TRUE(titles(*sheet).empty());
    EXPECT_FALSE(clear->isEnabled());
    section.refresh();
    EXPECT_TRUE(section.showAllButton()->isHidden());
}

TEST_F(HistoryViews, TodaysRecordsReadAsYesterdaysOnceTheDayHasChanged) {
    const double midnight = now.secondsSinceReferenceDate() + 12 * 3600;
    now = Date(midnight - 1800);
    history->end(begin(Kind::session, "d1", "iPad"), Ending::disconnected);
    now = Date(midnight - 0.05);
    HistorySection section(history, dates);
    section.showAll();
    const auto caption = [](const QWidget& widget) {
        const auto rows = test::childWidgets<HistoryRow>(widget);
        return rows.empty() ? std::string() : rows[0]->caption()->fullText().toStdString();
    };
    ASSERT_EQ(caption(section).rfind("Today, 11:30", 0), 0u) << caption(section);

    now = Date(midnight + 30);
    EXPECT_TRUE(test::processEventsUntil([&] {
        return caption(section).rfind("Yesterday, 11:30", 0) == 0 &&
               caption(*section.sheet()).rfind("Yesterday, 11:30", 0) == 0;
    })) << caption(section);
}

TEST_F(HistoryViews, NamesFromDevicesShowAsTyped) {
    begin(Kind::session, "d2", "<b>" + std::string(ConnectionHistory::maxTextBytes - 3, 'W'));
    begin(Kind::file, "d1", "<img src=\"x.png\"> & <b>bold</b>");
    HistorySection section(history, dates);
    const auto rows = test::childWidgets<HistoryRow>(section);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]->title()->textFormat(), Qt::PlainText);
    EXPECT_EQ(rows[0]->title()->fullText(), "<img src=\"x.png\"> & <b>bold</b>: a file");
    EXPECT_EQ(rows[0]->caption()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(rows[0]->caption()->textInteractionFlags() & Qt::TextSelectableByMouse);
    test::writeWidgetShot(section, 520, "ui_history_plain_names");
    // A name too long for the form is cut to fit rather than pushing the form wider.
    const PlainLabel* longName = rows[1]->title();
    EXPECT_LE(section.minimumSizeHint().width(), 520);
    EXPECT_TRUE(longName->text().endsWith(QStringLiteral("…")));
    QTextDocument tip;
    tip.setHtml(longName->toolTip());
    EXPECT_EQ(tip.toPlainText(), longName->fullText()) << "the whole name, as typed";
}

} // namespace
} // namespace velm
