#include "Velm_Host/ui/DeviceCardLines.h"
#include "Velm_Host/ui/HistoryText.h"
#include "Velm_Host/ui/InlineName.h"
#include "Velm_Host/ui/MenuBarView.h"
#include "Velm_Host/ui/PlainLabel.h"
#include "Velm_Host/ui/StatusLine.h"
#include "Velm_Host/ui/StatusRow.h"
#include "tests/support/ChildWidgets.h"
#include "tests/support/WidgetShots.h"

#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <tuple>

namespace velm {
namespace {

const std::string hebrew = "\u05e9\u05dc\u05d5\u05dd";
const std::string isolatedHebrew = "\u2068" + hebrew + "\u2069";

TEST(InlineName, KeepsToOneLineAndLeavesTheLineItsDirection) {
    const std::pair<std::string, std::string> cases[] = {
        {"Studio iPad", "Studio iPad"},
        {"Anna\xe2\x80\x99s iPad \xf0\x9f\x98\x80", "Anna\xe2\x80\x99s iPad \xf0\x9f\x98\x80"},
        {"Studio\niPad\r\tX\x01Y\x7f", "Studio iPad  X Y "},
        {"A\u2028B\u0085C", "A B C"},
        {"\u2069\u202eStudio\u2066", "Studio"},
        {"\u202b" + hebrew + "\u202c", isolatedHebrew},
    };
    for (const auto& [name, shown] : cases) {
        EXPECT_EQ(inlineName(name), shown) << name;
        EXPECT_EQ(inlineName(inlineName(name)), shown) << "shown twice, the same";
    }
}

TEST(InlineName, TheViewsLinesAboutADeviceReadInTheirOwnOrder) {
    HostModel::State state;
    auto& session = state.connected.emplace();
    session.deviceName = hebrew;
    EXPECT_EQ(StatusLine::of({.allowRemoteAccess = true, .connected = session}).text,
              isolatedHebrew + " connected");
    EXPECT_EQ(MenuBarView::statusText(state), isolatedHebrew + " connected");
    session.deviceName = "iPad\tCtrl+Q";
    state.connected = session;
    EXPECT_EQ(MenuBarView::statusText(state), "iPad Ctrl+Q connected")
        << "a tab would read as the item's shortcut";
    ConnectionRecord record;
    record.kind = ConnectionRecord::Kind::file;
    record.deviceName = "iPad\u202e";
    EXPECT_EQ(HistoryText::title(record), "iPad: a file");
    PairedDevice device;
    device.name = "Studio\niPad";
    EXPECT_EQ(DeviceCardLines::of(device, {}, Date(0), DateTexts("en_US", "UTC")).name, "Studio iPad");

    // Drawn, the line stays one line that starts at the left like every other.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto& stream = session.stream.emplace();
    std::tie(stream.pixelWidth, stream.pixelHeight, stream.fps) = std::tuple(1920, 1080, 60);
    std::vector<StatusRow*> rows;
    for (const std::string& name : {std::string("Studio"), std::string("Studio\u202e\nEvil"), hebrew}) {
        session.deviceName = name;
        rows.push_back(new StatusRow(&window));
        rows.back()->setLine(StatusLine::of({.allowRemoteAccess = true, .connected = session}));
        layout->addWidget(rows.back());
    }
    test::writeWidgetShot(window, 520, "ui_status_rows_device_names");
    for (const StatusRow* row : rows) {
        const auto* label = test::childWidget<PlainLabel>(*row);
        ASSERT_NE(label, nullptr);
        EXPECT_FALSE(label->text().isRightToLeft()) << label->text().toStdString();
        EXPECT_EQ(row->height(), rows[0]->height()) << label->text().toStdString();
    }
}

} // namespace
} // namespace velm
