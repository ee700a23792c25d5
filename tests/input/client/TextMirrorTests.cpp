#include "input/client/TextMirror.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using Edit = TextMirror::Edit;

// Precomposed é and e + combining acute accent.
const std::string precomposedE = "\xC3\xA9";
const std::string decomposedE = "e\xCC\x81";
const std::string objectReplacement = "\xEF\xBF\xBC";
// The flag of Switzerland: two regional indicators.
const std::string swissC = "\xF0\x9F\x87\xA8";
const std::string swissFlag = swissC + "\xF0\x9F\x87\xAD";
// Family: man, ZWJ, woman, ZWJ, girl.
const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";

// Feeds each text in turn to a mirror that starts from `typed`, expecting the edit that types it.
void expectEdits(const std::string& typed, const std::vector<std::pair<std::string, Edit>>& steps) {
    TextMirror mirror;
    mirror.reset(typed);
    for (const auto& [text, edit] : steps) {
        EXPECT_EQ(mirror.edit(text), edit) << "typing \"" << text << "\" after \"" << typed << "\"";
    }
}

TEST(TextMirror, TypesOnlyWhatChanged) {
    expectEdits("", {{"abc", {0, "abc"}}, {"abc", {0, ""}}, {"", {3, ""}}});
    // A change in the middle retypes the rest.
    expectEdits("hello", {{"help", {2, "p"}}, {"hXlp", {3, "Xlp"}}});
}

TEST(TextMirror, NeverSendsNorKeepsTheObjectReplacementCharacter) {
    TextMirror mirror;
    EXPECT_EQ(mirror.edit("ab" + objectReplacement + "c"), (Edit{0, "abc"}));
    EXPECT_EQ(mirror.typed(), "abc");
    EXPECT_TRUE(mirror.edit(objectReplacement + "abc" + objectReplacement).isEmpty());
    mirror.reset("a" + objectReplacement);
    EXPECT_EQ(mirror.typed(), "a");
}

// One backspace deletes what the user sees as one character.
TEST(TextMirror, CountsCharactersAsTheUserSeesThem) {
    // Canonically equivalent forms are equal.
    expectEdits("e", {{precomposedE, {1, precomposedE}},
                      {decomposedE, {0, ""}},
                      {decomposedE + "x", {0, "x"}},
                      {"a" + decomposedE + "x", {2, "a" + decomposedE + "x"}},
                      {"a", {2, ""}}});
    EXPECT_EQ((Edit{1, precomposedE}), (Edit{1, decomposedE}));
    // A first regional indicator alone is its own character, completed into a flag by the second.
    expectEdits("", {{"hi" + swissFlag + family, {0, "hi" + swissFlag + family}},
                     {"hi" + swissFlag, {1, ""}},
                     {"hi", {1, ""}},
                     {"hi" + swissC, {0, swissC}},
                     {"hi" + swissFlag, {1, swissFlag}}});
    expectEdits("a\r", {{"a\r\n", {1, "\r\n"}}, {"a\r\nb", {0, "b"}}, {"a", {2, ""}}});
    // Invalid bytes read as replacement characters.
    expectEdits("", {{"a\xFF", {0, "a\xEF\xBF\xBD"}}, {"a", {1, ""}}});
}

// Marks stacked by the hundred thousand on one letter (pasted text) make one very long character.
TEST(TextMirror, AVeryLongCharacterIsRetypedRatherThanFreezingTheField) {
    std::string stacked = "a";
    for (int i = 0; i < 500000; ++i)
        stacked += i % 2 == 0 ? "\xCC\x81" : "\xCC\x96"; // acute above, grave below, unordered
    const std::string grown = stacked + "\xCC\x81";
    const std::string other = "b" + grown.substr(1);
    expectEdits(stacked, {{grown, {1, grown}}, {other, {1, other}}, {other + "!", {0, "!"}}});
}

// Pasted rich text may hold attachments by the million; none of them is typed.
TEST(TextMirror, ManyAttachmentsAreDroppedWithoutFreezingTheField) {
    std::string pasted = "ab";
    for (int i = 0; i < 2000000; ++i)
        pasted += objectReplacement;
    TextMirror mirror;
    EXPECT_EQ(mirror.edit(pasted + "c"), (Edit{0, "abc"}));
    EXPECT_EQ(mirror.edit(pasted), (Edit{1, ""}));
    mirror.reset(pasted + pasted);
    EXPECT_EQ(mirror.typed(), "abab");
}

} // namespace
} // namespace velm
