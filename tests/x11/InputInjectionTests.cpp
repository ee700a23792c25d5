#include "Velm_Host/input/InputInjector.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/x11/X11InputSink.h"
#include "platform/x11/X11KeyTable.h"
#include "tests/support/X11InputRecorder.h"
#include "tests/support/X11TestDesktop.h"

#include <X11/X.h>
#include <X11/keysym.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velm {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using Kind = test::X11InputRecorder::Kind;
using Received = test::X11InputRecorder::Received;

std::vector<unsigned int> pressed(const std::vector<Received>& events, Kind kind) {
    std::vector<unsigned int> details;
    for (const Received& event : events) {
        if (event.kind == kind) {
            details.push_back(kind == Kind::keyPress || kind == Kind::keyRelease
                                  ? static_cast<unsigned int>(event.keysym)
                                  : event.detail);
        }
    }
    return details;
}

// Where a host keeps the spare keys it lent, for the next one should it end without giving them back.
constexpr const char* lentKeysProperty = "_VELM_SPARE_KEYS";

// A host that types `text` and dies before it gives its spare keys back.
void typeAndCrash(const std::string& text) {
    const pid_t child = fork();
    if (child == 0) {
        X11InputSink typist;
        typist.postText(text);
        // A round trip: the server has handled the typing before the process ends.
        typist.cursorLocation();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
}

// `count` CJK ideographs from U+4E00, each a character of its own.
std::string ideographs(std::size_t count) {
    std::string text;
    for (std::size_t index = 0; index < count; ++index) {
        const auto point = static_cast<unsigned int>(0x4E00 + index);
        text += {static_cast<char>(0xE0 | (point >> 12)), static_cast<char>(0x80 | ((point >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (point & 0x3F))};
    }
    return text;
}

// Keys a test gives other keysyms, as they were before, put back however the test ends.
class KeysymsKept {
public:
    KeysymsKept(test::X11InputRecorder& recorder, std::vector<unsigned int> keycodes) : recorder_(recorder) {
        for (const unsigned int keycode : keycodes) {
            kept_.emplace_back(keycode, recorder_.keysymsOf(keycode));
        }
    }
    ~KeysymsKept() {
        for (const auto& [keycode, keysyms] : kept_) {
            recorder_.setKeysymsOf(keycode, keysyms);
        }
    }
    KeysymsKept(const KeysymsKept&) = delete;
    KeysymsKept& operator=(const KeysymsKept&) = delete;

private:
    test::X11InputRecorder& recorder_;
    std::vector<std::pair<unsigned int, std::vector<unsigned long>>> kept_;
};

auto hasPressed(Kind kind, std::size_t count) {
    return
        [kind, count](const std::vector<Received>& events) { return pressed(events, kind).size() >= count; };
}

// The injector and its XTest sink against a real server, with a small application recording what
// arrives. Two virtual monitors split the screen: 800 px on the left, 1120 on the right.
class InputInjectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        recorder = test::X11InputRecorder::open(reason);
        if (!recorder) {
            GTEST_SKIP() << reason;
        }
        for (const std::string monitor : {"left 800/200x1080/270+0+0", "right 1120/280x1080/270+800+0"}) {
            ASSERT_TRUE(test::X11TestDesktop::run("xrandr --setmonitor velm-input-" + monitor + " none"));
        }
        keys.emplace(recorder->display());
        injector = InputInjector::make(std::make_unique<X11InputSink>(), nullptr);
        injector->setOnPointerPosition([this](SessionDesktop::PointerFraction at) { reports.push_back(at); });
        injector->start(queue);
        injector->setScreen(SessionDesktop::Area{800, 0, 1120, 1080});
        // Applications handle what the sink's start changed (a running application would by now).
        recorder->takeRest();
    }

    // Virtual monitors outlive their client, and a held key would outlive the test.
    void TearDown() override {
        if (injector) {
            injector->releaseAll();
            for (const std::string side : {"left", "right"}) {
                test::X11TestDesktop::run("xrandr --delmonitor velm-input-" + side);
            }
        }
    }

    std::unique_ptr<test::X11InputRecorder> recorder;
    std::optional<X11KeyTable> keys;
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
    std::shared_ptr<InputInjector> injector;
    std::vector<SessionDesktop::PointerFraction> reports;
};

TEST_F(InputInjectionTest, PointerLandsWhereMappedOnTheDescribedScreenAndDrags) {
    EXPECT_EQ(reports.size(), 1u) << "the position goes to the client as soon as the screen is set";

    injector->handle(InputEvent::pointerMove(0.25f, 0.75f));
    injector->handle(InputEvent::pointerDown(PointerButton::left()));
    injector->handle(InputEvent::pointerMove(0.5f, 0.5f));
    injector->handle(InputEvent::pointerUp(PointerButton::left()));
    const auto events = recorder->take(hasPressed(Kind::buttonRelease, 1));

    ASSERT_FALSE(events.empty());
    EXPECT_EQ(std::pair(events.front().rootX, events.front().rootY), std::pair(800 + 280, 810));
    const auto drag = std::find_if(events.begin(), events.end(), [](const Received& event) {
        return event.kind == Kind::motion && event.rootX == 800 + 560;
    });
    ASSERT_NE(drag, events.end());
    EXPECT_EQ(drag->rootY, 540);
    EXPECT_NE(drag->state & Button1Mask, 0u) << "a move with the button held is a drag";
}

TEST_F(InputInjectionTest, MapsButtonsAndScrollsInWheelClicksOfFiftyPointsKeepingTheRest) {
    for (const PointerButton button :
         {PointerButton::left(), PointerButton::right(), PointerButton::middle(), PointerButton::other(3),
          PointerButton::other(200), PointerButton::other(5)}) {
        injector->handle(InputEvent::pointerDown(button));
        injector->handle(InputEvent::pointerUp(button));
    }
    injector->handle(InputEvent::scroll(-100, 120));
    injector->handle(InputEvent::scroll(0, 30));
    injector->handle(InputEvent::scroll(0, -70));
    injector->handle(InputEvent::scroll(60, 0));
    EXPECT_THAT(pressed(recorder->take(hasPressed(Kind::buttonRelease, 12)), Kind::buttonPress),
                ElementsAre(1, 3, 2, 8, 10, 4, 4, 7, 7, 4, 5, 6))
        << "no button the XTEST pointer lacks; wheel up and left for positive distances, as the fingers go";
    EXPECT_TRUE(recorder->takeRest().empty());
}

TEST_F(InputInjectionTest, EveryKeyTypesTheKeysymItStandsFor) {
    X11InputSink sink;
    // The keypad's digits are the keys' second level, under num lock as on a PC keyboard.
    sink.postKey({71, true});
    sink.postKey({71, false});
    std::vector<unsigned int> expected;
    for (std::uint16_t code = 0; code < 128; ++code) {
        const bool modifierKey = code >= 55 && code <= 59;
        if (!X11KeyTable::keysym(code) || !keys->keycode(code) || modifierKey || code == 71) {
            continue;
        }
        expected.push_back(static_cast<unsigned int>(*X11KeyTable::keysym(code)));
        sink.postKey({code, true});
        sink.postKey({code, false});
    }
    sink.postKey({71, true});
    sink.postKey({71, false});
    auto typed = pressed(recorder->take(hasPressed(Kind::keyPress, expected.size() + 2)), Kind::keyPress);
    ASSERT_EQ(typed.size(), expected.size() + 2);
    EXPECT_GT(expected.size(), 95u) << "only F16 to F20 are missing from Xvfb's keyboard map";
    EXPECT_EQ(std::vector<unsigned int>(typed.begin() + 1, typed.end() - 1), expected);
}

TEST_F(InputInjectionTest, TypesAccentsAndEmojiWhateverIsHeldAndEmptiesTheSpareKeysAfter) {
    injector->handle(InputEvent::keyDown(225));
    injector->handle(InputEvent::keyDown(4));
    injector->handle(InputEvent::keyUp(4));
    injector->handle(InputEvent::textInput("éüß\U0001F600ae\u0301\n"));
    const auto events = recorder->take(hasPressed(Kind::keyPress, 10));
    std::vector<Received> presses;
    std::copy_if(events.begin(), events.end(), std::back_inserter(presses),
                 [](const Received& event) { return event.kind == Kind::keyPress; });
    EXPECT_THAT(pressed(events, Kind::keyPress),
                ElementsAre(XK_Shift_L, XK_A, 0xE9, 0xFC, 0xDF, 0x101F600, XK_a, XK_e, 0x1000301, XK_Return));

    injector->releaseAll();
    EXPECT_FALSE(recorder->holdsAnything());
    ASSERT_EQ(presses.size(), 10u);
    for (std::size_t index = 2; index < 9; ++index) {
        EXPECT_THAT(recorder->keysymsOf(presses[index].detail), Each(0ul))
            << "spare key " << presses[index].detail;
    }
}

TEST_F(InputInjectionTest, TypesTextAsSentWhileCapsLockIsOn) {
    injector->handle(InputEvent::modifierDown(Modifier::capsLock));
    injector->handle(InputEvent::textInput("aéB"));
    injector->handle(InputEvent::keyDown(4));
    injector->handle(InputEvent::keyUp(4));
    injector->handle(InputEvent::modifierUp(Modifier::capsLock));
    injector->handle(InputEvent::keyDown(4));
    injector->handle(InputEvent::keyUp(4));
    const auto events = recorder->take(hasPressed(Kind::keyPress, 7));
    EXPECT_THAT(pressed(events, Kind::keyPress),
                ElementsAre(XK_Caps_Lock, XK_a, 0xE9, XK_B, XK_A, XK_Caps_Lock, XK_a))
        << "the lock is back for the keys after the text";
}

// The injector drops ill-formed text whole; the sink, handed it directly, types what comes before the
// first ill-formed sequence by the rules of all our UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF). A "z" typed after each case marks where its keys end.
TEST_F(InputInjectionTest, TheSinkTypesIllFormedTextOnlyUpToItsFirstBadSequence) {
    // "y" stands after the bad sequence (unlike "b" it cannot be read as part of a hex escape).
    const std::string_view cases[] = {
        "a\xC3",              // truncated at the end
        "a\xE2\x82y",         // truncated before more
        "a\x80y",             // a stray continuation byte
        "a\xC0\xAFy",         // an overlong "/"
        "a\xED\xA0\x80y",     // a surrogate
        "a\xF4\x90\x80\x80y", // above U+10FFFF
    };
    X11InputSink sink;
    for (const std::string_view text : cases) {
        sink.postText(text);
        sink.postText("z");
        const auto events = recorder->take([](const std::vector<Received>& received) {
            const auto typed = pressed(received, Kind::keyPress);
            return std::find(typed.begin(), typed.end(), XK_z) != typed.end();
        });
        EXPECT_THAT(pressed(events, Kind::keyPress), ElementsAre(XK_a, XK_z)) << text;
    }
    sink.releaseAll();
}

TEST_F(InputInjectionTest, AFreshSinkReleasesWhatAnEarlierHostLeftHeld) {
    {
        X11InputSink earlier;
        earlier.postKey({0, true});
        earlier.postMouse({InputEventSink::MouseType::rightDown, 1, {900, 100}});
    }
    recorder->take(hasPressed(Kind::buttonPress, 1));
    ASSERT_TRUE(recorder->holdsAnything());
    X11InputSink().releaseAll();
    const auto events = recorder->take([](const std::vector<Received>& received) {
        return hasPressed(Kind::buttonRelease, 1)(received) && hasPressed(Kind::keyRelease, 1)(received);
    });
    EXPECT_THAT(pressed(events, Kind::keyRelease), ElementsAre(XK_a));
    EXPECT_THAT(pressed(events, Kind::buttonRelease), ElementsAre(3));
    EXPECT_FALSE(recorder->holdsAnything());
}

TEST_F(InputInjectionTest, AStartingHostEmptiesTheSpareKeysACrashedOneLeftAndOnlyThose) {
    const std::size_t pool = recorder->emptyKeyCount();
    typeAndCrash("\u00e9\u00fc\U0001F600");
    EXPECT_EQ(recorder->emptyKeyCount(), pool - 3) << "the crashed host kept three keys";
    const auto record = recorder->rootProperty(lentKeysProperty);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->size(), 6u);
    EXPECT_THAT(recorder->keysymsOf(static_cast<unsigned int>((*record)[4])),
                ::testing::Contains(0x101F600ul));

    // Meanwhile a program of the user's puts a keysym of its own on one of those keys.
    const auto taken = static_cast<unsigned int>((*record)[0]);
    recorder->setKeysymsOf(taken, {XK_F35});

    X11InputSink().releaseAll();
    EXPECT_EQ(recorder->emptyKeyCount(), pool - 3) << "a session's end leaves the record alone";
    X11InputSink().emptyKeysAnEarlierHostKept();
    EXPECT_EQ(recorder->emptyKeyCount(), pool - 1) << "every key it lent is empty again but the user's";
    EXPECT_EQ(recorder->keysymsOf(taken).front(), static_cast<unsigned long>(XK_F35));
    EXPECT_FALSE(recorder->rootProperty(lentKeysProperty)) << "the record goes with the keys";

    recorder->setKeysymsOf(taken, {});
    EXPECT_EQ(recorder->emptyKeyCount(), pool);
}

TEST_F(InputInjectionTest, TheRecordOfLentKeysStaysWithinThePoolAndGoesWhenTheyAreGivenBack) {
    const std::size_t pool = recorder->emptyKeyCount();
    ASSERT_GT(pool, 1u);
    {
        X11InputSink sink;
        sink.postText(ideographs(pool + 5));
        sink.cursorLocation();
        const auto record = recorder->rootProperty(lentKeysProperty);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->size(), 2 * pool) << "one keycode and keysym per key, however much was typed";
    }
    EXPECT_FALSE(recorder->rootProperty(lentKeysProperty));
    EXPECT_EQ(recorder->emptyKeyCount(), pool);
}

// A session that ends while a newer one types (a replacement) must not take the newer one's keys.
TEST_F(InputInjectionTest, ASinkLettingGoLeavesTheKeysAnotherSinkLent) {
    X11InputSink newer;
    newer.postText("\u00e9");
    recorder->take(hasPressed(Kind::keyRelease, 1));
    const auto record = recorder->rootProperty(lentKeysProperty);
    ASSERT_TRUE(record && record->size() == 2u);
    const auto lent = static_cast<unsigned int>((*record)[0]);

    X11InputSink().releaseAll();
    EXPECT_THAT(recorder->keysymsOf(lent), ::testing::Contains(0xE9ul));
    newer.postText("\u00e9");
    const auto events = recorder->take(hasPressed(Kind::keyRelease, 1));
    EXPECT_THAT(pressed(events, Kind::keyPress), ElementsAre(0xE9ul));
}

// Two sessions overlap while one replaces the other: each keeps the other's loans on the record, so
// that a host that dies then leaves every key it lent to be emptied at the next start.
TEST_F(InputInjectionTest, OverlappingSinksKeepEachOthersLoansOnTheRecord) {
    const auto recordedKeysyms = [this] {
        const auto record = recorder->rootProperty(lentKeysProperty).value_or(std::vector<unsigned long>{});
        std::vector<unsigned long> keysyms;
        for (std::size_t index = 1; index < record.size(); index += 2) {
            keysyms.push_back(record[index]);
        }
        return keysyms;
    };
    X11InputSink older;
    older.postText("\u00e9");
    older.cursorLocation();
    X11InputSink newer;
    newer.postText("\u00fc");
    newer.cursorLocation();
    EXPECT_THAT(recordedKeysyms(), ::testing::UnorderedElementsAre(0xE9ul, 0xFCul));

    older.releaseAll();
    EXPECT_THAT(recordedKeysyms(), ElementsAre(0xFCul)) << "the older one takes only its own loans off";
    newer.releaseAll();
    EXPECT_FALSE(recorder->rootProperty(lentKeysProperty));
}

TEST_F(InputInjectionTest, ARecordAnotherProgramWroteIsNeverTakenForKeysToEmpty) {
    const std::size_t pool = recorder->emptyKeyCount();
    const unsigned long a = keys->keycode(0).value();
    const std::vector<std::vector<unsigned long>> records = {
        {a},                                // half a pair
        {a, XK_a, 300, 0xE9},               // a keycode past the map
        {a, XK_a, a, XK_a},                 // a key named twice
        {a, 0},                             // no keysym
        {a, XK_a},                          // a key of the layout: it holds more than that keysym
        std::vector<unsigned long>(600, a), // far longer than any keyboard
    };
    for (const auto& record : records) {
        recorder->setRootProperty(lentKeysProperty, record);
        X11InputSink().emptyKeysAnEarlierHostKept();
        EXPECT_THAT(recorder->keysymsOf(static_cast<unsigned int>(a)), ::testing::Contains(XK_a));
        EXPECT_EQ(recorder->emptyKeyCount(), pool);
        EXPECT_FALSE(recorder->rootProperty(lentKeysProperty));
    }
}

// Another layout selected while a session holds a key and has typed on a spare key: the keys follow
// the new map, the held key goes up where it went down, and the spare key the new map uses is its.
TEST_F(InputInjectionTest, FollowsAKeyboardMapChangedMidSession) {
    const unsigned int a = keys->keycode(0).value();
    const unsigned int s = keys->keycode(1).value();
    X11InputSink sink;
    sink.postText("\u00e9");
    sink.postKey({0, true});
    const auto before = recorder->take(hasPressed(Kind::keyPress, 2));
    ASSERT_THAT(pressed(before, Kind::keyPress), ElementsAre(0xE9ul, XK_a));
    const unsigned int lent = before.front().detail;

    const KeysymsKept kept(*recorder, {a, s});
    recorder->setKeysymsOf(a, {XK_s, XK_S});
    recorder->setKeysymsOf(s, {XK_a, XK_A});
    recorder->setKeysymsOf(lent, {XK_F35});
    sink.postKey({0, false});
    sink.postKey({0, true});
    sink.postKey({0, false});
    sink.postText("\u00e9");
    const auto after = recorder->take(hasPressed(Kind::keyRelease, 3));
    EXPECT_THAT(pressed(after, Kind::keyPress), ElementsAre(XK_a, 0xE9ul));
    EXPECT_EQ(after.empty() ? 0 : after.front().detail, a)
        << "the key held goes up on the key that went down";

    sink.releaseAll();
    EXPECT_FALSE(recorder->holdsAnything());
    EXPECT_THAT(recorder->keysymsOf(lent), ::testing::Contains(XK_F35)) << "the new map keeps its key";
    recorder->setKeysymsOf(lent, {});
}

// Every client hears of every change of the keyboard map, the sink of its own too: unread, those
// notices would pile up for as long as a session types.
TEST_F(InputInjectionTest, TypingKeepsNoBacklogOfKeyboardMapNotices) {
    X11InputSink sink;
    const std::string text = ideographs(4000);
    const std::size_t before = mallinfo2().uordblks;
    sink.postText(text);
    sink.cursorLocation();
    const std::size_t after = mallinfo2().uordblks;
    EXPECT_LT(after > before ? after - before : 0, std::size_t{1} << 20);
}

// Caps lock and num lock stay switched after their key goes up, as on a real keyboard; but a session
// that ends leaves them as it found them, or the user's own typing would come out in capitals.
TEST_F(InputInjectionTest, ASessionThatEndsLeavesTheLocksAsItFoundThem) {
    const unsigned int before = recorder->lockedModifiers();
    for (const std::uint16_t usage : {std::uint16_t{57}, std::uint16_t{83}}) {
        injector->handle(InputEvent::keyDown(usage));
        injector->handle(InputEvent::keyUp(usage));
    }
    recorder->take(hasPressed(Kind::keyRelease, 2));
    ASSERT_NE(recorder->lockedModifiers() & LockMask, before & LockMask) << "caps lock switched";

    injector->releaseAll();
    EXPECT_EQ(recorder->lockedModifiers(), before);
}

// A layout that has a key's symbol only on another level, as a German one has "=" on shift and 0:
// the key types what it stands for on a spare key, not what the first level of that key says.
TEST_F(InputInjectionTest, AKeyTheLayoutHasOnlyOnAnotherLevelTypesWhatItStandsFor) {
    const unsigned int zero = keys->keycode(29).value();
    const unsigned int equal = keys->keycode(24).value();
    const KeysymsKept kept(*recorder, {zero, equal});
    recorder->setKeysymsOf(zero, {XK_0, XK_equal});
    recorder->setKeysymsOf(equal, {XK_dead_acute, XK_dead_grave});
    X11InputSink sink;
    for (const std::uint16_t code : {std::uint16_t{24}, std::uint16_t{29}, std::uint16_t{24}}) {
        sink.postKey({code, true});
        sink.postKey({code, false});
    }
    const auto events = recorder->take(hasPressed(Kind::keyRelease, 3));
    EXPECT_THAT(pressed(events, Kind::keyPress), ElementsAre(XK_equal, XK_0, XK_equal));
    sink.releaseAll();
    EXPECT_FALSE(recorder->holdsAnything());
}

// Text is typed as sent, whatever modifier the session holds: with control or alt held, a "w" would be
// a shortcut (close the window) rather than a letter. The keys after the text have them again.
TEST_F(InputInjectionTest, TextIsTypedAsSentWhileTheSessionHoldsModifiers) {
    injector->handle(InputEvent::modifierDown(Modifier::control));
    injector->handle(InputEvent::modifierDown(Modifier::option));
    injector->handle(InputEvent::textInput("w\u00e9"));
    injector->handle(InputEvent::keyDown(4));
    injector->handle(InputEvent::keyUp(4));
    const auto events = recorder->take([](const std::vector<Received>& received) {
        const auto typed = pressed(received, Kind::keyPress);
        return std::find(typed.begin(), typed.end(), XK_a) != typed.end();
    });
    std::vector<unsigned int> states;
    for (const Received& event : events) {
        if (event.kind == Kind::keyPress &&
            (event.keysym == XK_w || event.keysym == 0xE9 || event.keysym == XK_a)) {
            states.push_back(event.state & (ControlMask | Mod1Mask));
        }
    }
    EXPECT_THAT(states, ElementsAre(0u, 0u, ControlMask | Mod1Mask));
}

} // namespace
} // namespace velm
