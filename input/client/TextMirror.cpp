#include "input/client/TextMirror.h"

#include "protocol/UnicodeText.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <stdexcept>
#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <vector>

namespace velm {

namespace {

// The object replacement character stands for an attachment in a text field; it has no keystroke
// and is never sent.
constexpr char16_t objectReplacement = 0xFFFC;

// ICU counts in 32-bit lengths; a text field never comes near 2 GiB, so a longer value is cut there
// rather than wrapped.
icu::UnicodeString fromUTF8(std::string_view utf8) {
    auto length =
        static_cast<int32_t>(std::min<std::size_t>(utf8.size(), std::numeric_limits<int32_t>::max()));
    return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), length));
}

// Copied in one pass: removing each one in place moves the rest of the text every time, which for a
// pasted text of many attachments freezes the field for minutes.
icu::UnicodeString cleaned(std::string_view utf8) {
    icu::UnicodeString text = fromUTF8(utf8);
    if (text.indexOf(objectReplacement) < 0)
        return text;
    icu::UnicodeString kept;
    for (int32_t at = 0; at < text.length(); ++at) {
        char16_t unit = text.charAt(at);
        if (unit != objectReplacement)
            kept.append(unit);
    }
    return kept;
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// The UTF-16 offsets at which each user-perceived character starts, followed by the text's length.
std::vector<int32_t> characterBoundaries(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status))
        throw std::runtime_error("text mirror: no character break iterator");
    breaks->setText(text);
    std::vector<int32_t> boundaries;
    for (int32_t at = breaks->first(); at != icu::BreakIterator::DONE; at = breaks->next())
        boundaries.push_back(at);
    return boundaries;
}

// Canonical ordering sorts the marks of one character in quadratic time. No written character comes
// near this many UTF-16 units; a longer one (marks stacked by the thousand in pasted text) is compared
// as spelled, so that at worst it is retyped instead of freezing the field.
constexpr int32_t longestNormalizedCharacter = 256;

class CharacterComparer {
public:
    CharacterComparer() {
        UErrorCode status = U_ZERO_ERROR;
        nfd_ = icu::Normalizer2::getNFDInstance(status);
        if (U_FAILURE(status))
            throw std::runtime_error("text mirror: no canonical decomposition");
    }

    bool equivalent(const icu::UnicodeString& a, const icu::UnicodeString& b) const {
        if (a == b)
            return true;
        if (a.length() > longestNormalizedCharacter || b.length() > longestNormalizedCharacter)
            return false;
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeString da = nfd_->normalize(a, status);
        icu::UnicodeString db = nfd_->normalize(b, status);
        return U_SUCCESS(status) && da == db;
    }

private:
    const icu::Normalizer2* nfd_ = nullptr;
};

icu::UnicodeString character(const icu::UnicodeString& text, const std::vector<int32_t>& boundaries,
                             std::size_t i) {
    return text.tempSubStringBetween(boundaries[i], boundaries[i + 1]);
}

} // namespace

bool operator==(const TextMirror::Edit& a, const TextMirror::Edit& b) {
    return a.backspaces == b.backspaces && UnicodeText::canonicallyEqual(a.text, b.text);
}

TextMirror::Edit TextMirror::edit(std::string_view newValue) {
    icu::UnicodeString before = fromUTF8(typed_);
    icu::UnicodeString after = cleaned(newValue);
    std::vector<int32_t> beforeBounds = characterBoundaries(before);
    std::vector<int32_t> afterBounds = characterBoundaries(after);
    std::size_t beforeCount = beforeBounds.size() - 1;
    std::size_t afterCount = afterBounds.size() - 1;

    static const CharacterComparer comparer;
    std::size_t common = 0;
    while (
        common < beforeCount && common < afterCount &&
        comparer.equivalent(character(before, beforeBounds, common), character(after, afterBounds, common))) {
        ++common;
    }

    Edit result{static_cast<std::int64_t>(beforeCount - common),
                toUTF8(after.tempSubString(afterBounds[common]))};
    typed_ = toUTF8(after);
    return result;
}

void TextMirror::reset(std::string_view value) {
    typed_ = toUTF8(cleaned(value));
}

} // namespace velm
