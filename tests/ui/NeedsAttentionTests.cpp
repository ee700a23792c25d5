#include "Velm_Host/ui/NeedsAttentionSection.h"
#include "Velm_Host/ui/PermissionRow.h"
#include "Velm_Host/ui/PlainLabel.h"
#include "tests/support/ChildWidgets.h"
#include "tests/support/WidgetShots.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace velm {
namespace {

using Item = AttentionRow::Item;
using State = HostListener::State;

// Everything in order: no row.
HostStatus healthy() {
    return {.listenerState = State::advertising(49152),
            .restartReadiness = {
                .opensAtLogin = true, .logsInAutomatically = true, .startsAfterPowerFailure = true}};
}

// Everything that can be wrong at once.
HostStatus troubled() {
    return {.allowRemoteAccess = true,
            .screenRecordingGranted = false,
            .accessibilityGranted = false,
            .listenerState = State::failed("address in use"),
            .allowAwayAccess = true,
            .noticesAllowed = false,
            .restartReadiness = {
                .opensAtLogin = false, .logsInAutomatically = false, .startsAfterPowerFailure = false}};
}

std::vector<Item> items(const HostStatus& status) {
    std::vector<Item> out;
    for (const AttentionRow& row : AttentionRow::rowsFor(status)) {
        out.push_back(row.item);
    }
    return out;
}

HostStatus with(HostStatus status, auto change) {
    change(status);
    return status;
}

TEST(AttentionRows, EachConditionGivesItsRowInOrder) {
    EXPECT_TRUE(items(healthy()).empty());
    EXPECT_EQ(items(troubled()),
              (std::vector{Item::screenRecording, Item::accessibility, Item::localNetwork, Item::openAtLogin,
                           Item::automaticLogin, Item::powerFailure, Item::notifications}));
    HostStatus off = healthy();
    off.allowRemoteAccess = false;
    off.listenerState = State::stopped();
    HostStatus unknown = healthy();
    unknown.restartReadiness.logsInAutomatically.reset();
    unknown.restartReadiness.startsAfterPowerFailure.reset();
    const std::pair<HostStatus, std::vector<Item>> cases[] = {
        {off, {}},
        {with(healthy(), [](auto& s) { s.noticesAllowed = false; }), {}}, // away access off
        {with(healthy(), [](auto& s) { s.allowAwayAccess = true; }), {}}, // notices allowed
        {unknown, {}},                                                    // nobody can read them here
        {with(healthy(), [](auto& s) { s.connected.emplace(); }), {}},
    };
    for (const auto& [status, expected] : cases) {
        EXPECT_EQ(items(status), expected);
    }
}

TEST(AttentionRows, LocalNetworkDetailIsTheListenersFailure) {
    const auto failed =
        AttentionRow::rowsFor(with(healthy(), [](auto& s) { s.listenerState = State::failed("x"); }));
    EXPECT_EQ(failed, (std::vector<AttentionRow>{{Item::localNetwork, "Local Network", "x", "Grant…"}}));
    const auto starting =
        AttentionRow::rowsFor(with(healthy(), [](auto& s) { s.listenerState = State::starting(); }));
    EXPECT_EQ(starting.at(0).detail, "Lets devices find this computer.");
}

TEST(AttentionRows, CallTheComputerByWhatItIs) {
    for (const AttentionRow& row : AttentionRow::rowsFor(troubled())) {
        EXPECT_EQ(row.detail.find("Mac"), std::string::npos) << row.detail;
    }
    EXPECT_EQ(AttentionRow::rowsFor(troubled()).at(5).detail,
              "So the computer comes back when the power does.");
}

// The section as a user meets it: rows and buttons, and what each press does.
class NeedsAttentionView : public testing::Test {
protected:
    void TearDown() override { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    SettingsLinks links() {
        return SettingsLinks(SettingsLinks::Program::gnomeControlCenter, "/usr/bin/gnome-control-center",
                             [this](const SettingsLinks::Command& command) {
                                 launched.push_back(command);
                                 return true;
                             });
    }

    static std::map<std::string, PermissionRow*> rowsByTitle(const QWidget& section) {
        std::map<std::string, PermissionRow*> rows;
        for (auto* row : test::childWidgets<PermissionRow>(section)) {
            rows[test::childWidget<PlainLabel>(*row)->text().toStdString()] = row;
        }
        return rows;
    }

    std::vector<SettingsLinks::Command> launched;
};

TEST_F(NeedsAttentionView, ButtonsFixWhatCanBeFixedFromHere) {
    NeedsAttentionSection section(links());
    int turnedOn = 0;
    section.setOnTurnOnLaunchAtLogin([&] { ++turnedOn; });
    section.setStatus(troubled());
    ASSERT_FALSE(section.isHidden());

    auto rows = rowsByTitle(section);
    ASSERT_EQ(rows.size(), 7u);
    for (const char* permission : {"Screen Recording", "Accessibility", "Local Network"}) {
        EXPECT_EQ(rows[permission]->button(), nullptr) << permission << ": the X server decides";
    }
    ASSERT_NE(rows["Open at login"]->button(), nullptr);
    rows["Open at login"]->button()->click();
    EXPECT_EQ(turnedOn, 1);
    EXPECT_TRUE(launched.empty());

    for (const auto& [title, pane] :
         {std::pair{"Log in automatically", "users"}, std::pair{"Start after a power cut", "power"},
          std::pair{"Notifications", "notifications"}}) {
        ASSERT_NE(rows[title]->button(), nullptr) << title;
        EXPECT_EQ(rows[title]->button()->text(), "Settings…");
        rows[title]->button()->click();
        ASSERT_FALSE(launched.empty());
        EXPECT_EQ(launched.back(), (SettingsLinks::Command{"/usr/bin/gnome-control-center", {pane}}))
            << title;
    }
    test::writeWidgetShot(section, 520, "ui_needs_attention");
}

TEST_F(NeedsAttentionView, WithoutASettingsProgramOnlyTurnOnRemains) {
    NeedsAttentionSection section{SettingsLinks()};
    section.setStatus(troubled());
    const auto buttons = section.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), "Turn On");
}

TEST_F(NeedsAttentionView, RowsFollowThePublishedStateAndTheSectionHidesWhenAllIsWell) {
    NeedsAttentionSection section(links());
    EXPECT_TRUE(section.isHidden());
    section.setStatus(with(healthy(), [](HostStatus& s) { s.restartReadiness.opensAtLogin = false; }));
    EXPECT_FALSE(section.isHidden());
    PermissionRow* first = rowsByTitle(section).at("Open at login");
    // The same state published again leaves the rows alone (a press in progress keeps its row).
    section.setStatus(with(healthy(), [](HostStatus& s) { s.restartReadiness.opensAtLogin = false; }));
    EXPECT_EQ(rowsByTitle(section).at("Open at login"), first);
    section.setStatus(healthy());
    EXPECT_TRUE(section.isHidden());
    EXPECT_TRUE(rowsByTitle(section).empty());
}

TEST(PermissionRowView, GrantedShowsNoButtonAndTitlesKeepTheirAmpersands) {
    QWidget both;
    auto* layout = new QVBoxLayout(&both);
    int pressed = 0;
    auto* granted = new PermissionRow("Screen Recording", "fine", true, "Grant…", [&] { ++pressed; });
    auto* missing = new PermissionRow("<i>Odd</i>", "Tom & Jerry", false, "Fix & Go", [&] { ++pressed; });
    layout->addWidget(granted);
    layout->addWidget(missing);

    EXPECT_EQ(granted->button(), nullptr);
    ASSERT_NE(missing->button(), nullptr);
    EXPECT_EQ(missing->button()->text(), "Fix && Go");
    missing->button()->click();
    EXPECT_EQ(pressed, 1);
    const auto labels = test::childWidgets<PlainLabel>(*missing);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0]->text(), "<i>Odd</i>");
    EXPECT_EQ(labels[0]->textFormat(), Qt::PlainText);
    test::writeWidgetShot(both, 520, "ui_permission_rows");
}

} // namespace
} // namespace velm
