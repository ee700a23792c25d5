#include "protocol/UnicodeText.h"

#include "platform/core/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace velm {
namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<std::uint8_t>(c) < 0x80; });
}

// The boundaries between user-perceived characters of a UTF-8 text, found in place: offsets are
// byte offsets. ICU counts offsets in 32 bits, so callers hand it at most that much text.
class GraphemeBreaks {
public:
    explicit GraphemeBreaks(std::string_view text) {
        UErrorCode status = U_ZERO_ERROR;
        utext_openUTF8(&text_, text.data(), static_cast<std::int64_t>(text.size()), &status);
        breaks_.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_SUCCESS(status)) {
            breaks_->setText(&text_, status);
        }
        usable_ = U_SUCCESS(status);
    }

    ~GraphemeBreaks() {
        breaks_.reset();
        utext_close(&text_);
    }

    GraphemeBreaks(const GraphemeBreaks&) = delete;
    GraphemeBreaks& operator=(const GraphemeBreaks&) = delete;

    bool usable() const { return usable_; }

    // The last boundary at or before `offset`, a code point boundary inside the text.
    std::size_t atOrBefore(std::size_t offset) {
        const auto at = static_cast<std::int32_t>(offset);
        return breaks_->isBoundary(at) ? offset
                                       : static_cast<std::size_t>(std::max(breaks_->preceding(at), 0));
    }

    // The first boundary after the start.
    std::size_t afterStart() { return static_cast<std::size_t>(std::max(breaks_->following(0), 0)); }

private:
    UText text_ = UTEXT_INITIALIZER;
    std::unique_ptr<icu::BreakIterator> breaks_;
    bool usable_ = false;
};

constexpr std::size_t longestCodePoint = 4;
constexpr std::size_t longestIcuText = std::numeric_limits<std::int32_t>::max() - longestCodePoint;

} // namespace

bool UnicodeText::canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    // ASCII is unchanged by normalisation, so two different ASCII texts never match.
    if ((isAscii(a) && isAscii(b)) || !Utf8::isValid(a) || !Utf8::isValid(b)) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) {
        return false;
    }
    const icu::UnicodeString left = nfd->normalize(icu::UnicodeString::fromUTF8(a), status);
    const icu::UnicodeString right = nfd->normalize(icu::UnicodeString::fromUTF8(b), status);
    return U_SUCCESS(status) && left == right;
}

std::string UnicodeText::composed(std::string_view text) {
    if (isAscii(text) || !Utf8::isValid(text)) {
        return std::string(text);
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    std::string result;
    icu::StringByteSink<std::string> sink(&result, static_cast<int32_t>(text.size()));
    if (U_SUCCESS(status)) {
        nfc->normalizeUTF8(0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink, nullptr,
                           status);
    }
    return U_SUCCESS(status) ? result : std::string(text);
}

bool UnicodeText::isBlank(std::string_view text) {
    if (!Utf8::isValid(text)) {
        return false;
    }
    const auto points = Utf8::codePoints(text);
    return std::all_of(points.begin(), points.end(), [](char32_t point) {
        const auto codePoint = static_cast<UChar32>(point);
        const auto type = static_cast<UCharCategory>(u_charType(codePoint));
        return u_isUWhiteSpace(codePoint) || type == U_CONTROL_CHAR || type == U_FORMAT_CHAR;
    });
}

bool UnicodeText::isNumeric(char32_t codePoint) {
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

std::size_t UnicodeText::graphemePrefixLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text.size();
    }
    // Whether a boundary lies at some offset depends only on the text before it and the one
    // character that starts there, so the text past the first character beyond the limit never
    // matters: a many-megabyte text costs no more than a short one.
    const std::size_t seen = limit < longestIcuText ? Utf8::cutLength(text, limit + longestCodePoint) : 0;
    if (seen == 0) {
        return Utf8::cutLength(text, limit);
    }
    // ICU moves an offset inside a code point back to that code point's start before it looks
    // for the boundary before it, so it is given a code point boundary to begin with.
    const std::size_t lastCodePoint = Utf8::cutLength(text, limit);
    GraphemeBreaks breaks(text.substr(0, seen));
    return breaks.usable() ? breaks.atOrBefore(lastCodePoint) : lastCodePoint;
}

std::size_t UnicodeText::firstGraphemeLength(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const std::string_view seen = text.substr(0, Utf8::cutLength(text, longestIcuText));
    GraphemeBreaks breaks(seen);
    if (breaks.usable()) {
        return breaks.afterStart();
    }
    std::int32_t firstCodePoint = 0;
    U8_FWD_1(seen.data(), firstCodePoint, static_cast<std::int32_t>(seen.size()));
    return static_cast<std::size_t>(firstCodePoint);
}

} // namespace velm
