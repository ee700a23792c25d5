#include "Velm_Host/ui/DeviceCard.h"
#include "Velm_Host/ui/HistorySection.h"
#include "Velm_Host/ui/HistorySheet.h"
#include "Velm_Host/ui/HostWindow.h"
#include "Velm_Host/ui/MenuBarView.h"
#include "Velm_Host/ui/MoreOptionsSection.h"
#include "Velm_Host/ui/PairingCodeRow.h"
#include "Velm_Host/ui/TextColours.h"
#include "tests/support/Contrast.h"
#include "tests/support/Screenshots.h"
#include "tests/ui/WindowHarness.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <gtest/gtest.h>
#include <map>

namespace velm {
namespace {

// The colour most of an area is painted in: the background a text or a control stands on.
QColor mostCommon(const QImage& picture, const QRect& area) {
    std::map<QRgb, int> counts;
    const QRect inside = area.intersected(picture.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            ++counts[picture.pixel(x, y)];
        }
    }
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return most == counts.end() ? QColor() : QColor::fromRgb(most->first);
}

// The runs of columns of `area` that hold ink (a pixel standing out from `background`), left to right.
std::vector<std::pair<int, int>> inkRuns(const QImage& picture, const QRect& area, const QColor& background) {
    std::vector<std::pair<int, int>> runs;
    for (int x = area.left(); x <= area.right(); ++x) {
        bool ink = false;
        for (int y = area.top(); y <= area.bottom() && !ink; ++y) {
            ink = test::wcagContrast(picture.pixelColor(x, y), background) > 1.6;
        }
        if (!ink) {
            continue;
        }
        if (!runs.empty() && runs.back().second == x - 1) {
            runs.back().second = x;
        } else {
            runs.emplace_back(x, x);
        }
    }
    return runs;
}

// The main window as the user sees it: the form in its window over a started model, on the offscreen
// platform's screen (800 × 600), with the model's changes handed on as the application does.
class MainWindowTest : public testing::Test {
protected:
    MainWindowTest() {
        window.host.start();
        hostWindow = std::make_unique<HostWindow>(new HostView(window.host.model, window.viewOptions()));
        window.host.model->setOnChange([this] { hostWindow->view()->refresh(); });
        hostWindow->bringForward();
        settle();
    }
    ~MainWindowTest() override { window.host.model->setOnChange(nullptr); }

    HostView& view() const { return *hostWindow->view(); }
    int formHeight() const { return view().heightForWidth(HostView::formWidth); }
    // What the screen leaves free for the window, less its frame.
    int room() const {
        const int frame = hostWindow->frameGeometry().height() - hostWindow->geometry().height();
        return QGuiApplication::primaryScreen()->availableGeometry().height() - frame;
    }
    // Every level of the form's layout answers the one below it through the event loop.
    void settle() {
        for (int round = 0; round < 4; ++round) {
            window.settle();
        }
    }
    QScrollBar& scrollBar() const { return *hostWindow->scrollArea()->verticalScrollBar(); }
    int viewportWidth() const { return hostWindow->scrollArea()->viewport()->width(); }
    QRect inWindow(const QWidget& widget) const {
        return {widget.mapTo(hostWindow.get(), QPoint(0, 0)), widget.size()};
    }
    QImage shot(const std::string& name) const {
        const QImage image = hostWindow->grab().toImage();
        test::writeScreenshot(image, name);
        return image;
    }
    void twoDevices() {
        window.pairDevice("Kitchen iPad");
        client = window.connectDevice("Studio iPad");
        ASSERT_NE(client, nullptr);
        settle();
    }
    // Every quiet text of the form, scrolled through, reads on what it stands on.
    void expectQuietTextsRead();
    DeviceCard& card(const char* id) const {
        DeviceCard* found = view().cards()->card(id);
        EXPECT_NE(found, nullptr) << id;
        return *found;
    }

    test::WindowHarness window;
    std::unique_ptr<HostWindow> hostWindow;
    std::unique_ptr<test::TestClient> client;
};

// Gives the application a dark palette, as a desktop turning to its dark style does, until the result ends.
std::shared_ptr<void> turnDark() {
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    for (const auto& [role, colour] : std::initializer_list<std::pair<QPalette::ColorRole, QColor>>{
             {QPalette::Window, QColor(0x30, 0x30, 0x30)},
             {QPalette::Base, QColor(0x24, 0x24, 0x24)},
             {QPalette::AlternateBase, QColor(0x2c, 0x2c, 0x2c)},
             {QPalette::Button, QColor(0x3a, 0x3a, 0x3a)},
             {QPalette::WindowText, QColor(0xee, 0xee, 0xee)},
             {QPalette::Text, QColor(0xee, 0xee, 0xee)},
             {QPalette::ButtonText, QColor(0xee, 0xee, 0xee)}}) {
        dark.setColor(QPalette::All, role, colour);
    }
    QApplication::setPalette(dark);
    return std::shared_ptr<void>(nullptr, [light](void*) { QApplication::setPalette(light); });
}

TEST_F(MainWindowTest, TheWindowIsAsTallAsTheFormUpToTheScreenAndScrollsOnlyPastIt) {
    ASSERT_LT(formHeight(), room()) << "the empty form fits the screen";
    EXPECT_EQ(hostWindow->height(), formHeight());
    EXPECT_FALSE(scrollBar().isVisible());
    EXPECT_EQ(hostWindow->width(), HostView::formWidth) << "no strip kept for a scroll bar";
    EXPECT_EQ(viewportWidth(), hostWindow->width());
    const int empty = hostWindow->height();

    // A device's card makes the form taller, and the window follows by itself: History stays in sight.
    client = window.connectDevice("Studio iPad");
    ASSERT_NE(client, nullptr);
    settle();
    ASSERT_LT(formHeight(), room());
    EXPECT_GT(hostWindow->height(), empty);
    EXPECT_EQ(hostWindow->height(), formHeight());
    EXPECT_FALSE(scrollBar().isVisible());
    EXPECT_LE(inWindow(*view().history()).bottom(), hostWindow->height());

    // More than the screen has room for: the window stops at the screen, and only now a scroll bar
    // stands beside the form, which keeps its whole width.
    window.pairDevice("Kitchen iPad");
    view().pairButton()->click();
    view().moreOptions()->expandButton()->click();
    settle();
    ASSERT_GT(formHeight(), room());
    EXPECT_EQ(hostWindow->height(), room());
    EXPECT_TRUE(scrollBar().isVisible());
    EXPECT_EQ(viewportWidth(), HostView::formWidth);
    EXPECT_EQ(hostWindow->width(), HostView::formWidth + scrollBar().width());

    // Less to show, a smaller window again.
    view().pairingRow()->cancelButton()->click();
    view().moreOptions()->expandButton()->click();
    window.host.model->removeDevice("Studio iPad");
    window.host.model->removeDevice("Kitchen iPad");
    ASSERT_TRUE(window.host.pumpUntil(
        [&] { return !window.host.model->state().connected && window.host.model->state().devices.empty(); }));
    settle();
    EXPECT_EQ(hostWindow->height(), formHeight());
    EXPECT_LT(hostWindow->height(), empty + 40) << "as short as at first, with a line of history more";
    EXPECT_FALSE(scrollBar().isVisible());
    EXPECT_EQ(hostWindow->width(), HostView::formWidth);
}

TEST_F(MainWindowTest, TheMarginsAreEvenAndTheCardsStandOnTheSectionsOwnWhite) {
    twoDevices();
    const QImage image = shot("ui_main_window_two_devices");
    const QColor form = image.pixelColor(1, 1);

    // Across the devices' section: as much of the form's colour on the left as on the right.
    const QRect cards = inWindow(*view().cards());
    const int across = cards.top() + 2;
    int left = 0;
    while (left < image.width() && image.pixelColor(left, across) == form) {
        ++left;
    }
    // The form's own width: a scroll bar beside it is no margin.
    const int width = viewportWidth();
    int right = 0;
    while (right < width && image.pixelColor(width - 1 - right, across) == form) {
        ++right;
    }
    EXPECT_GT(left, 0);
    EXPECT_EQ(left, right);

    // Between the two cards, down their whole height, only the section's own colour.
    const QColor section = image.pixelColor(left + 3, across);
    EXPECT_NE(section, form);
    const QRect first = inWindow(card("Studio iPad"));
    const QRect second = inWindow(card("Kitchen iPad"));
    const QRect between(QPoint(first.right() + 1, first.top()), QPoint(second.left() - 1, first.bottom()));
    ASSERT_GT(between.width(), 0);
    EXPECT_EQ(mostCommon(image, between), section);
    EXPECT_EQ(test::strongestInk(image, between, section), section) << "no band behind the cards";
    // As far from the section's edges on the left as on the right.
    EXPECT_NEAR(first.left() - cards.left(), cards.right() - second.right(), 1);
}

void MainWindowTest::expectQuietTextsRead() {
    scrollBar().setValue(0);
    const QImage top = hostWindow->grab().toImage();
    scrollBar().setValue(scrollBar().maximum());
    const QImage bottom = hostWindow->grab().toImage();
    scrollBar().setValue(0);

    const QColor text = view().palette().color(QPalette::WindowText);
    int measured = 0;
    for (QLabel* label : view().findChildren<QLabel*>()) {
        const QColor colour = label->palette().color(QPalette::WindowText);
        if (!label->isVisibleTo(&view()) || label->text().isEmpty() || colour == text) {
            continue;
        }
        // Where the label is on one of the two pictures, as a whole.
        QRect area = inWindow(*label);
        const QImage* picture = &top;
        if (area.bottom() >= hostWindow->height()) {
            area.translate(0, -scrollBar().maximum());
            picture = &bottom;
        }
        ASSERT_TRUE(picture->rect().contains(area)) << label->text().toStdString();
        const QColor background = mostCommon(*picture, area);
        const QColor ink = test::strongestInk(*picture, area, background);
        EXPECT_GE(test::wcagContrast(ink, background), 4.5)
            << label->text().toStdString() << ": " << ink.name().toStdString() << " on "
            << background.name().toStdString();
        ++measured;
    }
    // The cards' status, model, away and policy lines, the history's caption, the subtitles and the footer.
    EXPECT_GE(measured, 11);
}

TEST_F(MainWindowTest, QuietTextsReadAtLeastFourAndAHalfToOneOnWhatTheyStandOn) {
    twoDevices();
    // Devices without an away key say so in orange.
    window.host.model->setAllowAwayAccess(true);
    view().moreOptions()->expandButton()->click();
    settle();
    expectQuietTextsRead();
}

// The desktop turned to its dark style while the host runs: the quiet texts are worked out again from
// the new colours, where those worked out from the light ones would read grey on grey.
TEST_F(MainWindowTest, QuietTextsStillReadOnceTheDesktopTurnsDark) {
    twoDevices();
    window.host.model->setAllowAwayAccess(true);
    view().moreOptions()->expandButton()->click();
    settle();
    const auto lightAgain = turnDark();
    settle();
    shot("ui_main_window_turned_dark");
    expectQuietTextsRead();
    // The red of the buttons that remove devices must read on a dark button as it does on a light one.
    for (QPushButton* button : view().findChildren<QPushButton*>()) {
        if (button->text().startsWith("Remove")) {
            const QPalette colours = button->palette();
            EXPECT_GE(
                TextColours::contrast(colours.color(QPalette::ButtonText), colours.color(QPalette::Button)),
                TextColours::leastContrast)
                << button->text().toStdString();
        }
    }
}

TEST_F(MainWindowTest, ShowAndHideReadAsALink) {
    QPushButton& expand = *view().moreOptions()->expandButton();
    const QImage image = hostWindow->grab().toImage();
    const QRect area = inWindow(expand);
    const QColor background = mostCommon(image, area);
    EXPECT_EQ(background, image.pixelColor(1, 1)) << "no button drawn around it";
    const QColor ink = test::strongestInk(image, area, background);
    const QColor link = expand.palette().color(QPalette::Link);
    EXPECT_LE(std::abs(ink.hue() - link.hue()), 10) << ink.name().toStdString();
    EXPECT_GT(ink.hsvSaturation(), 128) << ink.name().toStdString();
    EXPECT_EQ(expand.cursor().shape(), Qt::PointingHandCursor);

    expand.click();
    settle();
    EXPECT_EQ(expand.text(), "Hide");
    EXPECT_TRUE(view().moreOptions()->isExpanded());
}

TEST_F(MainWindowTest, ThePolicyMenuKeepsItsTitleInsideAndTheButtonsArrowApartFromItsText) {
    twoDevices();
    settle();
    DeviceCard& live = card("Studio iPad");
    QPushButton& policy = *live.policyButton();

    // The button: its title, a clear gap, then the arrow.
    const QImage button = policy.grab().toImage();
    const QRect inside = button.rect().adjusted(3, 3, -3, -3);
    const auto runs = inkRuns(button, inside, mostCommon(button, inside));
    ASSERT_GE(runs.size(), 2u);
    const auto& arrow = runs.back();
    const auto& title = runs[runs.size() - 2];
    EXPECT_GE(arrow.first - title.second - 1, 4) << "between the title and the arrow";

    // The menu: its section title is drawn clear of both edges.
    QMenu& menu = *live.policyMenu();
    menu.popup(policy.mapToGlobal(QPoint(0, policy.height())));
    settle();
    ASSERT_TRUE(menu.isVisible());
    const QImage opened = menu.grab().toImage();
    test::writeScreenshot(opened, "ui_policy_menu");
    // Inside the menu's border.
    constexpr int border = 2;
    const QRect band = menu.actionGeometry(menu.actions().front())
                           .intersected(opened.rect().adjusted(border, border, -border, -border));
    const auto titleRuns = inkRuns(opened, band, mostCommon(opened, band));
    ASSERT_FALSE(titleRuns.empty()) << "the title is drawn";
    EXPECT_GE(titleRuns.front().first, 6);
    EXPECT_LE(titleRuns.back().second, opened.width() - 1 - 6);
    const QColor menuBackground = mostCommon(opened, band);
    EXPECT_GE(test::wcagContrast(test::strongestInk(opened, band, menuBackground), menuBackground), 4.5);

    // The window with the menu open over it, as the user sees it.
    QImage both = hostWindow->grab().toImage();
    QPainter painter(&both);
    painter.drawImage(hostWindow->mapFromGlobal(menu.pos()), opened);
    painter.end();
    test::writeScreenshot(both, "ui_main_window_policy_menu");
    menu.hide();
}

TEST_F(MainWindowTest, TheTrayMenusStatusReadsAsWellAsItsItems) {
    client = window.connectDevice("Studio iPad");
    ASSERT_NE(client, nullptr);
    MenuBarView menu(window.host.model);
    menu.refresh();
    menu.popup(QPoint(0, 0));
    settle();
    const QImage image = menu.grab().toImage();
    test::writeScreenshot(image, "ui_main_window_tray_menu");
    // Inside the menu's border.
    const QRect status = menu.actionGeometry(menu.status()).intersected(image.rect().adjusted(2, 2, -2, -2));
    const QColor background = mostCommon(image, status);
    EXPECT_GE(test::wcagContrast(test::strongestInk(image, status, background), background), 4.5);

    // And once the desktop has turned dark while the menu was there.
    const auto lightAgain = turnDark();
    settle();
    const QImage dark = menu.grab().toImage();
    test::writeScreenshot(dark, "ui_main_window_tray_menu_dark");
    const QColor darkBackground = mostCommon(dark, status);
    EXPECT_GE(test::wcagContrast(test::strongestInk(dark, status, darkBackground), darkBackground), 4.5);
    menu.hide();
}

TEST_F(MainWindowTest, TheWindowAsItIsSeenAtEachStep) {
    shot("ui_main_window_empty");
    view().pairButton()->click();
    settle();
    shot("ui_main_window_pairing");
    view().pairingRow()->cancelButton()->click();
    client = window.connectDevice("Studio iPad");
    ASSERT_NE(client, nullptr);
    settle();
    shot("ui_main_window_connected");
    scrollBar().setValue(scrollBar().maximum());
    shot("ui_main_window_connected_scrolled");

    view().history()->showAll();
    settle();
    ASSERT_NE(view().history()->sheet(), nullptr);
    test::writeScreenshot(view().history()->sheet()->grab().toImage(), "ui_main_window_history_sheet");
    view().history()->sheet()->close();
}

} // namespace
} // namespace velm
