#include "Velm_Host/ui/PlainLabel.h"
#include "Velm_Host/ui/StatusLine.h"
#include "Velm_Host/ui/StatusRow.h"
#include "tests/support/ChildWidgets.h"
#include "tests/support/WidgetShots.h"

#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace velm {
namespace {

using State = HostListener::State;

// Remote access on, permissions granted, listening, nobody connected, away access off.
HostStatus ready() {
    return {.allowRemoteAccess = true, .listenerState = State::advertising(49152)};
}

HostStatus away(AwayState state, HostStatus status = ready()) {
    status.allowAwayAccess = true;
    status.awayStatus = state;
    return status;
}

HostStatus connected(bool isAway, bool isPaused, bool streaming, HostStatus status = ready()) {
    auto& session = status.connected.emplace();
    session.deviceName = "Studio iPad";
    session.isAway = isAway;
    session.isPaused = isPaused;
    if (streaming) {
        session.stream.emplace();
        session.stream->pixelWidth = 2388;
        session.stream->pixelHeight = 1668;
        session.stream->fps = 120;
    }
    return status;
}

HostStatus with(HostStatus status, auto change) {
    change(status);
    return status;
}

TEST(StatusLine, FollowsTheFirstRuleThatAppliesThenAddsAwayAccess) {
    const std::pair<HostStatus, StatusLine> cases[] = {
        {with(away(AwayState::noRouter), [](auto& s) { s.allowRemoteAccess = false; }),
         {"Off", Tint::secondary}},
        {ready(), {"Ready · away: off", Tint::green}},
        {away(AwayState::ready), {"Ready", Tint::green}},
        {connected(false, false, true), {"Studio iPad connected · 2388 × 1668 · 120 fps", Tint::green}},
        {connected(true, true, true, away(AwayState::ready)),
         {"Studio iPad connected from away · paused", Tint::green}},
        {connected(false, false, false), {"Studio iPad connected", Tint::green}},
        {connected(false, false, false, away(AwayState::notReachable)),
         {"Studio iPad connected · away: your provider blocks incoming connections", Tint::orange}},
        {with(ready(), [](auto& s) { s.accessibilityGranted = false; }),
         {"Needs attention · away: off", Tint::orange}},
        {with(away(AwayState::noRouter), [](auto& s) { s.screenRecordingGranted = false; }),
         {"Needs attention · away: router doesn't answer, turn on UPnP", Tint::orange}},
        {with(ready(), [](auto& s) { s.listenerState = State::failed("port 7000 is taken"); }),
         {"port 7000 is taken · away: off", Tint::orange}},
        {with(ready(), [](auto& s) { s.listenerState = State::starting(); }),
         {"Starting… · away: off", Tint::secondary}},
        {with(away(AwayState::routerRefused), [](auto& s) { s.listenerState = State::stopped(); }),
         {"Stopped · away: router refused to open a port", Tint::secondary}},
        {away(AwayState::routerRefused), {"Ready · away: router refused to open a port", Tint::orange}},
        {away(AwayState::looking), {"Ready · away: checking the router…", Tint::green}},
        {away(AwayState::off), {"Ready · away: checking the router…", Tint::green}},
    };
    for (const auto& [status, line] : cases) {
        EXPECT_EQ(StatusLine::of(status), line) << StatusLine::of(status).text;
    }
    // With away access off the line says so only while nobody is connected.
    EXPECT_EQ(StatusLine::awayText(connected(false, false, true)), StatusLine::AwayText{});
}

TEST(StatusRowView, ShowsTheLineAsTypedInItsTint) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    const StatusLine lines[] = {
        StatusLine::of(ready()),
        StatusLine::of(with(ready(), [](auto& s) { s.accessibilityGranted = false; })),
        StatusLine::of(with(ready(), [](auto& s) { s.allowRemoteAccess = false; })),
        {"<b>Studio</b> & Co connected · 2388 × 1668 · 120 fps", Tint::green},
    };
    StatusRow* row = nullptr;
    for (const StatusLine& line : lines) {
        row = new StatusRow(&window);
        row->setLine(line);
        layout->addWidget(row);
    }
    const auto* label = test::childWidget<PlainLabel>(*row);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->fullText().toStdString(), lines[3].text);
    test::writeWidgetShot(window, 520, "ui_status_rows");
}

} // namespace
} // namespace velm
