#include "Velm_Host/input/TextFocusMonitor.h"
#include "Velm_Host/session/SessionTextFocus.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/FakeAccessibility.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>
#include <vector>

namespace velm {
namespace {

using test::FakeAccessibility;
using namespace std::chrono_literals;

class TextFocusMonitorTest : public ::testing::Test {
protected:
    TextFocusMonitorTest() {
        window = &tree->add(nullptr, "AXWindow", {0, 0, 1280, 800});
        monitor->setOnChange([this](bool takesText) { changes.push_back(takesText); });
        monitor->setOnAreaChange([this](std::optional<Rect> frame) { areas.push_back(frame); });
    }

    FakeAccessibility::Element& add(std::optional<std::string> role, ScreenRect frame) {
        return tree->add(window, std::move(role), frame);
    }

    // Starts, and lets the first poll run.
    void start() {
        monitor->start();
        queue->advance(TextFocusMonitor::firstPoll);
    }
    void nextPoll() { queue->advance(TextFocusMonitor::pollInterval); }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.host.textfocus");
    std::shared_ptr<FakeAccessibility> tree = std::make_shared<FakeAccessibility>();
    std::shared_ptr<TextFocusMonitor> monitor = TextFocusMonitor::make(tree, queue);
    FakeAccessibility::Element* window = nullptr;
    std::vector<bool> changes;
    std::vector<std::optional<Rect>> areas;
};

Rect rect(double x, double y, double width, double height) {
    return {{x, y}, {width, height}};
}

TEST_F(TextFocusMonitorTest, TheFirstPollAfterAStartAlwaysTellsTheFocus) {
    tree->focus(&add("AXButton", {10, 10, 80, 30}));
    start();
    queue->advance(5s);

    EXPECT_EQ(changes, std::vector<bool>{false});
    EXPECT_TRUE(areas.empty());
    start();
    EXPECT_EQ(changes, (std::vector<bool>{false, false}));
}

TEST_F(TextFocusMonitorTest, TextFieldsAreReportedWithTheirFrameAndOnlyChangesAreTold) {
    auto& field = add("AXTextField", {412, 96, 300, 22});
    auto& sameField = add("AXTextField", {413, 97, 301, 21});
    auto& lowerField = add("AXTextArea", {412, 200, 300, 100});
    auto& button = add("AXButton", {10, 10, 80, 30});
    LogCapture log;

    tree->focus(&field);
    start();
    EXPECT_EQ(changes, std::vector<bool>{true});
    EXPECT_EQ(areas, std::vector<std::optional<Rect>>{rect(412, 96, 300, 22)});
    EXPECT_TRUE(log.contains("text field at 412,96, 300x22 pt"));

    tree->focus(&sameField);
    nextPoll();
    EXPECT_EQ(changes.size(), 1u);
    EXPECT_EQ(areas.size(), 1u);

    tree->focus(&lowerField);
    nextPoll();
    EXPECT_EQ(changes.size(), 1u);
    EXPECT_EQ(areas.back(), rect(412, 200, 300, 100));

    tree->focus(&button);
    nextPoll();
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    EXPECT_EQ(areas.back(), std::nullopt);
    EXPECT_TRUE(log.contains("text field gone"));
}

TEST_F(TextFocusMonitorTest, AFieldWithoutAUsableFrameTakesTextButHasNoArea) {
    auto& field = add("AXTextField", {412, 96, 300, 22});
    auto& thin = add("AXTextField", {412, 300, 300, 1});
    LogCapture log;

    tree->focus(&field);
    start();
    tree->focus(&thin);
    nextPoll();
    EXPECT_EQ(changes, std::vector<bool>{true});
    EXPECT_EQ(areas, (std::vector<std::optional<Rect>>{rect(412, 96, 300, 22), std::nullopt}));
    EXPECT_TRUE(log.contains("text field won't say where it is"));
}

TEST_F(TextFocusMonitorTest, AnyElementWhoseTextIsEditableTakesText) {
    auto& page = add("AXWebArea", {0, 0, 1280, 800});
    page.isSelectedTextSettable = true;
    tree->focus(&page);
    start();

    EXPECT_EQ(changes, std::vector<bool>{true});
}

TEST_F(TextFocusMonitorTest, ABareWindowWakesTheDesktopOncePerStart) {
    tree->focus(window);
    start();
    nextPoll();
    nextPoll();
    EXPECT_EQ(tree->wakeRequests(), 1);

    monitor->stop();
    start();
    EXPECT_EQ(tree->wakeRequests(), 2);

    // Nothing focused at all is a bare desktop too.
    tree->focus(nullptr);
    start();
    EXPECT_EQ(tree->wakeRequests(), 3);
}

TEST_F(TextFocusMonitorTest, ControlsAndOurOwnWindowsNeverWakeTheDesktop) {
    tree->focus(&add("AXButton", {10, 10, 80, 30}));
    start();
    window->isOwnProcess = true;
    tree->focus(window);
    nextPoll();

    EXPECT_EQ(tree->wakeRequests(), 0);
}

TEST_F(TextFocusMonitorTest, APollUnderWayWhenStoppedReportsNothing) {
    tree->focus(&add("AXTextField", {412, 96, 300, 22}));
    tree->holdVisits(true);
    start();
    monitor->stop();
    queue->runUntilIdle();
    tree->releaseVisits();
    queue->runUntilIdle();

    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(areas.empty());
}

TEST_F(TextFocusMonitorTest, ASlowReadingIsNotDoubled) {
    tree->focus(&add("AXButton", {10, 10, 80, 30}));
    tree->holdVisits(true);
    start();
    queue->advance(10 * TextFocusMonitor::pollInterval);
    EXPECT_EQ(tree->visits(), 1);

    tree->releaseVisits();
    queue->runUntilIdle();
    nextPoll();
    EXPECT_EQ(tree->visits(), 2);
}

// A reading the tree never made (its thread was stuck and dropped the visit) must not end the polling.
TEST_F(TextFocusMonitorTest, AReadingTheTreeDroppedDoesNotStopThePolls) {
    tree->focus(&add("AXTextField", {412, 96, 300, 22}));
    tree->holdVisits(true);
    start();
    tree->dropVisits();
    tree->holdVisits(false);
    nextPoll();

    EXPECT_EQ(tree->visits(), 2);
    EXPECT_EQ(changes, std::vector<bool>{true});
}

TEST_F(TextFocusMonitorTest, QuietPollsSeldomAndWakingPollsSoon) {
    tree->focus(&add("AXButton", {10, 10, 80, 30}));
    monitor->setQuiet(true);
    queue->advance(10s);
    EXPECT_EQ(tree->visits(), 0);

    start();
    EXPECT_EQ(tree->visits(), 1);
    monitor->setQuiet(true);
    queue->advance(TextFocusMonitor::quietPollInterval - 1ms);
    EXPECT_EQ(tree->visits(), 1);
    queue->advance(1ms);
    EXPECT_EQ(tree->visits(), 2);

    monitor->setQuiet(false);
    queue->advance(TextFocusMonitor::firstPollAwake);
    EXPECT_EQ(tree->visits(), 3);
    nextPoll();
    EXPECT_EQ(tree->visits(), 4);
}

TEST(TextFocusMonitorArea, FramesBecomeFractionsOfTheScreenClippedToIt) {
    const Rect screen = rect(1920, 0, 1280, 800);

    EXPECT_EQ(SessionTextFocus::inputArea(rect(2240, 200, 640, 40), screen),
              (TextInputArea{0.25, 0.25, 0.5, 0.05}));
    EXPECT_EQ(SessionTextFocus::inputArea(rect(1600, 780, 640, 40), screen),
              (TextInputArea{0, 0.975, 0.25, 0.025}));
    EXPECT_EQ(SessionTextFocus::inputArea(rect(100, 100, 300, 20), screen), std::nullopt);
    EXPECT_EQ(SessionTextFocus::inputArea(rect(2240, 200, 640, 40), rect(0, 0, 0, 800)), std::nullopt);
}

} // namespace
} // namespace velm
