#include "ProtocolTesting.h"
#include "platform/core/Utf8.h"
#include "platform/core/Uuid.h"
#include "protocol/FileItem.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace velm {
namespace {

using test::repeated;

// What every stored name must be, whatever arrived.
void expectStorable(const std::string& name, const std::string& from) {
    EXPECT_TRUE(!name.empty() && name.size() <= FileItem::maxNameBytes && Utf8::isValid(name) &&
                name.front() != '.' && name.front() != ' ' &&
                name.find_first_of(std::string("/\\:\0\t\n\r", 8)) == std::string::npos)
        << "\"" << name << "\" from " << (from.size() > 60 ? from.substr(0, 60) + "..." : from);
}

TEST(FileItemSafeName, KeepsTheLastPathComponentWithSeparatorsAndControlsReplaced) {
    EXPECT_EQ(FileItem::safeName("/tmp/x:y.txt"), "x_y.txt");
    EXPECT_EQ(FileItem::safeName(std::string("a\0b\x7F", 4)), "a_b_");
    EXPECT_EQ(FileItem::safeName("docs/report/"), "report");
    EXPECT_EQ(FileItem::safeName("../../etc/passwd"), "passwd");
    EXPECT_EQ(FileItem::safeName("..\\..\\x"), "_.._x");
    EXPECT_EQ(FileItem::safeName("/"), "_");
    // Format characters disguise a name, and a line break is a control character first.
    EXPECT_EQ(FileItem::safeName("invoice\u202Efdp.exe"), "invoice_fdp.exe");
    EXPECT_EQ(FileItem::safeName("a\u200Fb\u200Bc\uFEFF"), "a_b_c_");
    EXPECT_EQ(FileItem::safeName("line\u0085break"), "line_break");
    EXPECT_EQ(FileItem::safeName("\xFF\xC3.txt"), "\uFFFD\uFFFD.txt"); // not UTF-8: repaired
}

TEST(FileItemSafeName, NeverGivesAHiddenName) {
    EXPECT_EQ(FileItem::safeName(".profile"), "profile");
    EXPECT_EQ(FileItem::safeName("..x"), "x");
    EXPECT_EQ(FileItem::safeName(". .x"), "x");
    EXPECT_EQ(FileItem::safeName("\u00A0.bashrc\u3000"), "bashrc");
    EXPECT_EQ(FileItem::safeName("\u2028name\u2029"), "name");
    EXPECT_EQ(FileItem::safeName("notes. "), "notes.");
    for (const std::string_view empty : {"", ".", "..", " ..", " .", "   ", ". . .", "dir/..", "\u2028"}) {
        EXPECT_EQ(FileItem::safeName(empty), FileItem::fallbackName) << empty;
    }
}

// The shortening rule done literally: drop one character of the base (or, when that would leave
// no base or there is no extension, of the whole name) and measure again. Slow, and simple
// enough to trust; characters are found by ICU over UTF-16, not the UTF-8 path under test.
std::string withoutLastCharacter(const std::string& text) {
    const icu::UnicodeString wide = icu::UnicodeString::fromUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    breaks->setText(wide);
    breaks->last();
    std::string shorter;
    wide.tempSubString(0, breaks->previous()).toUTF8String(shorter);
    return shorter;
}

// Names are stored composed; ICU's own normaliser over UTF-16 says what that is.
std::string composed(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    std::string result;
    nfc->normalize(icu::UnicodeString::fromUTF8(text), status).toUTF8String(result);
    return result;
}

std::string shortenedLiterally(std::string name) {
    while (name.size() > FileItem::maxNameBytes) {
        const auto dot = name.rfind('.');
        if (dot != std::string::npos && dot != 0 && dot + 1 < name.size()) {
            const std::string base = withoutLastCharacter(name.substr(0, dot));
            if (!base.empty()) {
                name = base + name.substr(dot);
                continue;
            }
        }
        name = withoutLastCharacter(name);
    }
    // A cut right after a space leaves it at the end, where it must not stay.
    while (name.ends_with(' ')) {
        name.pop_back();
    }
    return name.empty() ? std::string(FileItem::fallbackName) : name;
}

TEST(FileItemSafeName, ShortensAsDroppingOneCharacterAtATimeWould) {
    // Pieces that make clean names of awkward characters: combining marks, flags, Hangul
    // syllables built from jamo, a letter that joins what follows it, emoji with skin tones, dots.
    const std::vector<std::string> pieces{"a",          "Z",
                                          ".",          " ",
                                          "\u00E9",     "e\u0301",
                                          "\u0301",     "\U0001F1E9",
                                          "\U0001F1EA", "\u1100\u1161\u11A8",
                                          "\u0D4E",     "\U0001F44D\U0001F3FD",
                                          "\u20AC",     "\u4E2D",
                                          "..",         "\u0915\u094D"};
    std::mt19937 random(20260101);
    for (int round = 0; round < 4000; ++round) {
        // Every other name has at most one dot, so that long extensions come up too.
        const bool oneDot = round % 2 == 1;
        bool dotted = false;
        std::string name = "n";
        const std::size_t target = 200 + random() % 200;
        while (name.size() < target) {
            const std::string& piece = pieces[random() % pieces.size()];
            if (!oneDot || piece.find('.') == std::string::npos) {
                name += piece;
            } else if (!dotted && random() % 4 == 0) {
                name += ".";
                dotted = true;
            }
        }
        name += "z";
        const std::string safe = FileItem::safeName(name);
        ASSERT_EQ(safe, shortenedLiterally(composed(name))) << name;
        ASSERT_EQ(FileItem::safeName(safe), safe) << name;
    }
}

TEST(FileItemSafeName, ACutAfterWhiteSpaceLeavesNoneAtTheEnd) {
    const std::string cutAfterSpace = repeated("a", 239) + " bbbb";
    EXPECT_EQ(FileItem::safeName(cutAfterSpace), repeated("a", 239));
    const std::string cutAfterIdeographicSpace = repeated("a", 237) + "\u3000" + repeated("b", 10);
    EXPECT_EQ(FileItem::safeName(cutAfterIdeographicSpace), repeated("a", 237));
    // The base keeps its space before the extension: the name ends in the extension.
    const std::string spaceBeforeExtension = repeated("a", 230) + " " + repeated("b", 20) + ".txt";
    EXPECT_EQ(FileItem::safeName(spaceBeforeExtension), repeated("a", 230) + " " + repeated("b", 5) + ".txt");
    for (const std::string& name : {cutAfterSpace, cutAfterIdeographicSpace, spaceBeforeExtension}) {
        EXPECT_EQ(FileItem::safeName(FileItem::safeName(name)), FileItem::safeName(name));
    }
}

TEST(FileItemSafeName, ShortensTheBaseOrFallsBackWhenTheFirstCharacterAloneIsTooLong) {
    const std::string huge = "a" + repeated("\u0301", 200); // one character of 401 bytes
    EXPECT_EQ(FileItem::safeName(huge + ".txt"), FileItem::fallbackName);
    EXPECT_EQ(FileItem::safeName("a" + repeated("\u0301", 2'000'000)), FileItem::fallbackName);

    const std::string exact = repeated("x", 236) + ".pdf";
    EXPECT_EQ(FileItem::safeName(exact), exact);
    EXPECT_EQ(FileItem::safeName(repeated("x", 4'000'000) + ".pdf"), exact);
    // Characters of several code points and extensions too long to keep come up in the random names above.
}

TEST(FileItemSafeName, GivesAStorableNameForHostileInput) {
    const std::string flag = "\U0001F1E9\U0001F1EA";
    for (const std::string& hostile :
         {repeated(".", 4'000'000), repeated(" ", 4'000'000), repeated(". ", 2'000'000), repeated("/", 1000),
          repeated("\u202E", 1000) + ".txt", " " + repeated("\u00E9", 200) + ". ",
          repeated(flag, 4'000'000 / 8),
          repeated("..", 100) + "/" + repeated("e\u0301", 300) + "." + repeated("e\u0301", 300),
          std::string("\0\0\0", 3), std::string("\xC0\xAF.ssh"), repeated("\u3000", 1000) + ".hidden"}) {
        expectStorable(FileItem::safeName(hostile), hostile);
    }
}

TEST(FileItemUniqueName, NumbersTheBaseBeforeTheLastExtension) {
    std::set<std::string> taken{"Photo.jpg", "README", "notes.tar.bz2"};
    const auto isTaken = [&taken](const std::string& name) { return taken.contains(name); };
    EXPECT_EQ(FileItem::uniqueName("Free.jpg", isTaken), "Free.jpg");
    EXPECT_EQ(FileItem::uniqueName("Photo.jpg", isTaken), "Photo 2.jpg");
    taken.insert("Photo 2.jpg");
    EXPECT_EQ(FileItem::uniqueName("Photo.jpg", isTaken), "Photo 3.jpg");
    EXPECT_EQ(FileItem::uniqueName("README", isTaken), "README 2");
    EXPECT_EQ(FileItem::uniqueName("notes.tar.bz2", isTaken), "notes.tar 2.bz2");
}

TEST(FileItemUniqueName, TreatsCanonicallyEquivalentSpellingsAsOneName) {
    // A device may spell "Café" with a combining accent; the folder already holds it precomposed,
    // and two names that look the same must not both end up there.
    const std::set<std::string> taken{"Caf\u00E9.txt"};
    const auto isTaken = [&taken](const std::string& name) { return taken.contains(name); };
    EXPECT_EQ(FileItem::safeName("Cafe\u0301.txt"), "Caf\u00E9.txt");
    EXPECT_EQ(FileItem::uniqueName("Cafe\u0301.txt", isTaken), "Caf\u00E9 2.txt");
    // Composing happens before the cut, so the cut measures the name that is stored.
    const std::string decomposed = test::repeated("e\u0301", 120) + ".txt";
    EXPECT_EQ(FileItem::safeName(decomposed), test::repeated("\u00E9", 118) + ".txt");
}

TEST(FileItemUniqueName, GivesAnUntestedUuidWhenEveryNumberIsTaken) {
    int asked = 0;
    const auto allTaken = [&asked](const std::string&) {
        ++asked;
        return true;
    };
    const std::string name = FileItem::uniqueName("Photo.jpg", allTaken);
    EXPECT_EQ(asked, 1 + 9998);
    ASSERT_EQ(name.size(), 36u + 4u);
    EXPECT_EQ(name.substr(0, 36), Uuid::parse(name.substr(0, 36)).value_or(Uuid()).string());
    EXPECT_TRUE(name.ends_with(".jpg"));

    // An extension that would carry the UUID past the limit is left off.
    const std::string longExtension = FileItem::uniqueName("a." + std::string(238, 'x'), allTaken);
    EXPECT_EQ(longExtension.size(), 36u);
}

TEST(FileItemUniqueName, NeverGivesAHiddenNameOrAPath) {
    const auto isTaken = [](const std::string& name) { return name == "bashrc"; };
    EXPECT_EQ(FileItem::uniqueName(".bashrc", isTaken), "bashrc 2");
    EXPECT_EQ(FileItem::uniqueName("../x/.y", [](const std::string&) { return false; }), "y");
    expectStorable(FileItem::uniqueName(" ..", [](const std::string&) { return false; }), " ..");
}

} // namespace
} // namespace velm
