#include "input/TextMirror.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using Edit = TextMirror::Edit;

// Precomposed é and e + combining acute accent.
const std::string precomposedE = "\xC3\xA9";
const std::string decomposedE = "e\xCC\x81";
const std::string objectReplacement = "\xEF\xBF\xBC";
// The flag of Switzerland: two regional indicators.
const std::string swissFlag = "\xF0\x9F\x87\xA8\xF0\x9F\x87\xAD";
// Family: man, ZWJ, woman, ZWJ, girl.
const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";

TEST(TextMirror, TypesOnlyWhatChanged) {
    TextMirror mirror;
    EXPECT_EQ(mirror.edit("abc"), (Edit{0, "abc"}));
    EXPECT_TRUE(mirror.edit("abc").isEmpty());
    EXPECT_EQ(mirror.edit(""), (Edit{3, ""}));

    mirror.reset("hello");
    EXPECT_EQ(mirror.edit("help"), (Edit{2, "p"}));
    EXPECT_EQ(mirror.edit("hXlp"), (Edit{3, "Xlp"})) << "a change in the middle retypes the rest";
    EXPECT_EQ(mirror.typed(), "hXlp");
}

TEST(TextMirror, NeverSendsNorKeepsTheObjectReplacementCharacter) {
    TextMirror mirror;
    EXPECT_EQ(mirror.edit("ab" + objectReplacement + "c"), (Edit{0, "abc"}));
    EXPECT_EQ(mirror.typed(), "abc");
    EXPECT_TRUE(mirror.edit(objectReplacement + "abc" + objectReplacement).isEmpty());
    mirror.reset("a" + objectReplacement);
    EXPECT_EQ(mirror.typed(), "a");
}

TEST(TextMirror, CountsCombiningMarksWithTheirBase) {
    TextMirror mirror;
    mirror.reset("e");
    EXPECT_EQ(mirror.edit(precomposedE), (Edit{1, precomposedE}));
    EXPECT_TRUE(mirror.edit(decomposedE).isEmpty()) << "canonically equivalent forms are equal";
    EXPECT_EQ(mirror.edit(decomposedE + "x"), (Edit{0, "x"}));
    EXPECT_EQ(mirror.edit("a" + decomposedE + "x"), (Edit{2, "a" + decomposedE + "x"}));
    EXPECT_EQ(mirror.edit("a"), (Edit{2, ""})) << "an accented letter is deleted with one backspace";
    EXPECT_EQ((Edit{1, precomposedE}), (Edit{1, decomposedE}));
}

TEST(TextMirror, CountsEmojiAsOneCharacter) {
    TextMirror mirror;
    EXPECT_EQ(mirror.edit("hi" + swissFlag + family), (Edit{0, "hi" + swissFlag + family}));
    EXPECT_EQ(mirror.edit("hi" + swissFlag), (Edit{1, ""}));
    EXPECT_EQ(mirror.edit("hi"), (Edit{1, ""}));
    // A first regional indicator alone is its own character, completed into a flag by the second.
    EXPECT_EQ(mirror.edit("hi\xF0\x9F\x87\xA8"), (Edit{0, "\xF0\x9F\x87\xA8"}));
    EXPECT_EQ(mirror.edit("hi" + swissFlag), (Edit{1, swissFlag}));
}

TEST(TextMirror, CarriageReturnAndLineFeedAreOneCharacter) {
    TextMirror mirror;
    mirror.reset("a\r");
    EXPECT_EQ(mirror.edit("a\r\n"), (Edit{1, "\r\n"}));
    EXPECT_EQ(mirror.edit("a\r\nb"), (Edit{0, "b"}));
    EXPECT_EQ(mirror.edit("a"), (Edit{2, ""}));
}

TEST(TextMirror, InvalidBytesReadAsReplacementCharacters) {
    TextMirror mirror;
    EXPECT_EQ(mirror.edit("a\xFF"), (Edit{0, "a\xEF\xBF\xBD"}));
    EXPECT_EQ(mirror.edit("a"), (Edit{1, ""}));
}

} // namespace
} // namespace velm
