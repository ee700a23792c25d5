#include "Velm_Host/input/InputInjector.h"
#include "Velm_Host/input/TapTargetSearch.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/RecordingEventSink.h"

#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Records = std::vector<std::string>;

class ScriptedTapTargets final : public TapTargetSearch {
public:
    struct Question {
        Point point;
        double reach = 0;
        Rect bounds;
        bool operator==(const Question&) const = default;
    };

    std::optional<Point> find(Point point, double reach, Rect bounds) const override {
        asked.push_back({point, reach, bounds});
        return answer;
    }

    std::optional<Point> answer;
    mutable std::vector<Question> asked;
};

// A 1024 x 512 screen at (100, 50), so that fractions of a few points are exact in 32-bit floats.
class InputInjectorTest : public ::testing::Test {
protected:
    static constexpr SessionDesktop::Area screen{100, 50, 1024, 512};

    void SetUp() override {
        record->doubleClickInterval = 0.5;
        injector = InputInjector::make(std::make_unique<test::RecordingEventSink>(record), tapTargets);
        injector->setOnPointerPosition([this](SessionDesktop::PointerFraction at) { reports.push_back(at); });
        injector->start(queue);
        injector->setScreen(screen);
        reports.clear();
    }

    Records take() { return std::exchange(record->posted, {}); }
    void send(std::initializer_list<InputEvent> events) {
        for (const InputEvent& event : events) {
            injector->handle(event);
        }
    }
    void moveTo(double x, double y) {
        injector->handle(InputEvent::pointerMove(float((x - screen.x) / screen.width),
                                                 float((y - screen.y) / screen.height)));
    }
    void click(PointerButton button) {
        send({InputEvent::pointerDown(button), InputEvent::pointerUp(button)});
    }

    std::shared_ptr<test::RecordingEventSink::Record> record =
        std::make_shared<test::RecordingEventSink::Record>();
    std::shared_ptr<ScriptedTapTargets> tapTargets = std::make_shared<ScriptedTapTargets>();
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
    std::shared_ptr<InputInjector> injector;
    std::vector<SessionDesktop::PointerFraction> reports;
};

TEST_F(InputInjectorTest, MovesOntoTheScreenAndDragsWithTheLastButtonPressed) {
    moveTo(356, 306);
    send({InputEvent::pointerDown(PointerButton::left()), InputEvent::pointerDown(PointerButton::right())});
    moveTo(400, 306);
    injector->handle(InputEvent::pointerUp(PointerButton::right()));
    moveTo(420, 306);
    injector->handle(InputEvent::pointerMove(1.5f, -0.25f));

    EXPECT_THAT(take(), ElementsAre("warp 356,306", "mouse 5 button 0 at 356,306 clicks 0 flags 0x0",
                                    "mouse 1 button 0 at 356,306 clicks 1 flags 0x0",
                                    "mouse 3 button 1 at 356,306 clicks 1 flags 0x0", "warp 400,306",
                                    "mouse 7 button 1 at 400,306 clicks 1 flags 0x0",
                                    "mouse 4 button 1 at 400,306 clicks 1 flags 0x0", "warp 420,306",
                                    "mouse 6 button 0 at 420,306 clicks 1 flags 0x0", "warp 1636,-78",
                                    "mouse 6 button 0 at 1636,-78 clicks 1 flags 0x0"))
        << "a move beyond the screen is not clamped: it may reach a neighbouring screen";
}

// The desktop plays a point on its nearest pixel: the screen's far edges (a finger at the edge of the
// device's picture sends 1.0) are its last pixels, not the first of a screen beyond.
TEST_F(InputInjectorTest, MovesToTheFarEdgesLandOnTheScreensLastPixels) {
    injector->handle(InputEvent::pointerMove(1.0f, 1.0f));
    injector->handle(InputEvent::pointerMove(0.9995f, 0.0f));
    injector->handle(InputEvent::pointerMove(1.0005f, 1.0f));

    EXPECT_THAT(take(),
                ElementsAre("warp 1123,561", "mouse 5 button 0 at 1123,561 clicks 0 flags 0x0",
                            "warp 1123,50", "mouse 5 button 0 at 1123,50 clicks 0 flags 0x0",
                            "warp 1124.51,561", "mouse 5 button 0 at 1124.51,561 clicks 0 flags 0x0"));
}

TEST_F(InputInjectorTest, CountsClicksOfOneButtonCloseInPlaceAndTime) {
    moveTo(600, 300);
    click(PointerButton::left());
    moveTo(605, 300);
    click(PointerButton::left());
    send({InputEvent::pointerDown(PointerButton::left()), InputEvent::pointerDown(PointerButton::left()),
          InputEvent::pointerUp(PointerButton::left()), InputEvent::pointerUp(PointerButton::left())});
    moveTo(611, 300);
    click(PointerButton::left());
    click(PointerButton::right());
    click(PointerButton::left());
    queue->advance(std::chrono::milliseconds(600));
    click(PointerButton::left());
    click(PointerButton::other(9));

    // Each button event as "type:click state".
    Records clicks;
    for (const std::string& line : take()) {
        int type = 0;
        int state = 0;
        if (std::sscanf(line.c_str(), "mouse %d button %*u at %*g,%*g clicks %d", &type, &state) == 2 &&
            type != 5) {
            clicks.push_back(std::to_string(type) + ":" + std::to_string(state));
        }
    }
    EXPECT_THAT(clicks, ElementsAre("1:1", "2:1", "1:2", "2:2", "1:3", "2:3", "1:1", "2:1", "3:1", "4:1",
                                    "1:1", "2:1", "1:1", "2:1", "25:1", "26:1"))
        << "5 points apart continue the run, 6 do not; a second press of a held button is no click; "
           "another button or a pause ends the run";
}

TEST_F(InputInjectorTest, RoundsScrollingAndDropsNumbersNoWheelCouldTurn) {
    const float infinity = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    send({InputEvent::scroll(2.5f, -2.5f), InputEvent::scroll(0, 3e9f), InputEvent::scroll(nan, 1),
          InputEvent::pointerMove(nan, 0.5f), InputEvent::pointerMove(0.5f, infinity),
          InputEvent::pointerMove(3e38f, 0.5f), InputEvent::tap(PointerButton::left(), nan)});

    EXPECT_THAT(take(), ElementsAre("scroll -3 3 flags 0x0"));
    EXPECT_THAT(reports, IsEmpty()) << "a dropped tap is no tap";
}

TEST_F(InputInjectorTest, HoldsModifiersAsFlagsAndMarksArrowAndFunctionKeys) {
    send({InputEvent::keyDown(225), InputEvent::keyDown(225), InputEvent::modifierDown(Modifier::function),
          InputEvent::keyDown(82), InputEvent::keyUp(82), InputEvent::keyDown(58), InputEvent::keyUp(229),
          InputEvent::modifierUp(Modifier::function), InputEvent::keyDown(4), InputEvent::keyUp(5),
          InputEvent::keyDown(255)});

    EXPECT_THAT(take(),
                ElementsAre("flagsChanged 56 down flags 0x20000", "flagsChanged 63 down flags 0x820000",
                            "key 126 down flags 0xa20000", "key 126 up flags 0xa20000",
                            "key 122 down flags 0x820000", "flagsChanged 56 up flags 0x800000",
                            "flagsChanged 63 up flags 0x0", "key 0 down flags 0x0", "key 11 up flags 0x0"))
        << "right shift lets go of what left shift set; a key not held still goes up; usage 255 has no key";
}

TEST_F(InputInjectorTest, TypesTextByCharacterWithOneReturnForEveryLineEnd) {
    injector->handle(InputEvent::modifierDown(Modifier::shift));
    take();
    injector->handle(InputEvent::textInput("a\nb\r\nc\re\u0301\U0001F600"));

    EXPECT_THAT(take(), ElementsAre("text a", "key 36 down flags 0x20000", "key 36 up flags 0x20000",
                                    "text b", "key 36 down flags 0x20000", "key 36 up flags 0x20000",
                                    "text c", "key 36 down flags 0x20000", "key 36 up flags 0x20000",
                                    "text e\u0301", "text \U0001F600"));
}

TEST_F(InputInjectorTest, MovesATapOntoTheControlFoundAndReportsWhereItWent) {
    moveTo(356, 306);
    take();
    tapTargets->answer = Point{612, 306};
    injector->handle(InputEvent::tap(PointerButton::left(), 22));

    const Rect streamed{{100, 50}, {1024, 512}};
    EXPECT_EQ(tapTargets->asked, (std::vector<ScriptedTapTargets::Question>{{{356, 306}, 22, streamed}}))
        << "the search keeps to the area the client sees";
    EXPECT_THAT(take(), ElementsAre("warp 612,306", "mouse 5 button 0 at 612,306 clicks 0 flags 0x0",
                                    "mouse 1 button 0 at 612,306 clicks 1 flags 0x0",
                                    "mouse 2 button 0 at 612,306 clicks 1 flags 0x0"));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(std::pair(reports[0].x, reports[0].y), std::pair(0.5, 0.5));

    injector->handle(InputEvent::pointerDown(PointerButton::right()));
    take();
    injector->handle(InputEvent::tap(PointerButton::left(), 22));
    EXPECT_THAT(take(), IsEmpty()) << "a tap while a button is held is ignored";
    EXPECT_EQ(tapTargets->asked.size(), 1u);

    injector->handle(InputEvent::pointerUp(PointerButton::right()));
    injector->setScreen(SessionDesktop::Area{1124, 0, 800, 600});
    injector->handle(InputEvent::tap(PointerButton::left(), 22));
    ASSERT_EQ(tapTargets->asked.size(), 2u);
    EXPECT_EQ(tapTargets->asked[1].bounds, (Rect{{1124, 0}, {800, 600}})) << "a re-configured stream's";
}

TEST_F(InputInjectorTest, ReleasesButtonsLastFirstThenKeysThenModifiersAndStops) {
    send({InputEvent::pointerDown(PointerButton::left()), InputEvent::pointerDown(PointerButton::right()),
          InputEvent::keyDown(4), InputEvent::modifierDown(Modifier::shift),
          InputEvent::modifierDown(Modifier::command)});
    take();
    injector->releaseAll();
    injector->handle(InputEvent::keyDown(4));
    injector->setScreen(screen);
    queue->advance(std::chrono::seconds(5));

    EXPECT_THAT(take(), ElementsAre("mouse 4 button 1 at 612,306 clicks 1 flags 0x120000",
                                    "mouse 2 button 0 at 612,306 clicks 1 flags 0x120000",
                                    "key 0 up flags 0x120000", "flagsChanged 55 up flags 0x20000",
                                    "flagsChanged 56 up flags 0x0", "releaseAll"));
    EXPECT_THAT(reports, IsEmpty());
}

TEST_F(InputInjectorTest, ReportsThePointerOnlyWhenItMovedByItselfAndTheClientIsNotBusy) {
    record->cursor = InputEventSink::Location{700, 300};
    moveTo(356, 306);
    queue->advance(std::chrono::milliseconds(200));
    EXPECT_THAT(reports, IsEmpty()) << "within 0.3 s of the client's input";

    queue->advance(std::chrono::milliseconds(200));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_DOUBLE_EQ(reports[0].x, 600.0 / 1024);
    record->cursor = InputEventSink::Location{701, 301};
    queue->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(reports.size(), 1u) << "less than 2 points is no move";

    injector->handle(InputEvent::pointerDown(PointerButton::left()));
    record->cursor = InputEventSink::Location{800, 300};
    queue->advance(std::chrono::seconds(2));
    EXPECT_EQ(reports.size(), 1u) << "never while the client drags";

    injector->handle(InputEvent::pointerUp(PointerButton::left()));
    queue->advance(std::chrono::seconds(6));
    record->cursor = InputEventSink::Location{900, 300};
    const std::size_t quiet = reports.size();
    for (int tick = 0; tick < 5 && reports.size() == quiet; ++tick) {
        queue->advance(std::chrono::milliseconds(200));
    }
    ASSERT_EQ(reports.size(), quiet + 1);
    record->cursor = InputEventSink::Location{1000, 300};
    queue->advance(std::chrono::milliseconds(800));
    EXPECT_EQ(reports.size(), quiet + 1) << "a quiet session looks once a second";
    queue->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(reports.size(), quiet + 2);
}

TEST_F(InputInjectorTest, TakesTheRealPointerWithEachScreenAndDropsInputWithoutOne) {
    record->cursor = InputEventSink::Location{1124, 50};
    injector->setScreen(SessionDesktop::Area{1124, 50, 800, 600});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(std::pair(reports[0].x, reports[0].y), std::pair(0.0, 0.0));

    injector->setScreen(std::nullopt);
    injector->handle(InputEvent::pointerMove(0.5f, 0.5f));
    record->cursor = InputEventSink::Location{1500, 400};
    queue->advance(std::chrono::seconds(3));
    EXPECT_THAT(take(), IsEmpty());
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(InputInjectorTest, LetsGoOfWhatIsHeldWhenTheScreenGoesAway) {
    send({InputEvent::pointerDown(PointerButton::left()), InputEvent::keyDown(4),
          InputEvent::modifierDown(Modifier::shift)});
    take();
    injector->setScreen(std::nullopt);
    injector->handle(InputEvent::keyUp(4));

    EXPECT_THAT(take(), ElementsAre("mouse 2 button 0 at 612,306 clicks 1 flags 0x20000",
                                    "key 0 up flags 0x20000", "flagsChanged 56 up flags 0x0"))
        << "the releases that follow find no screen to play on: nothing may stay held";

    injector->setScreen(screen);
    send({InputEvent::pointerUp(PointerButton::left()), InputEvent::modifierUp(Modifier::shift)});
    EXPECT_THAT(take(), IsEmpty()) << "a new screen starts with nothing held";
}

} // namespace
} // namespace velm
