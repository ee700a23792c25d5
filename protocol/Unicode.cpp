#include "protocol/Unicode.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace velm {
namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

icu::UnicodeString decomposed(const icu::Normalizer2& nfd, std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const auto utf16 = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    icu::UnicodeString result = nfd.normalize(utf16, status);
    return U_SUCCESS(status) ? result : utf16;
}

} // namespace

bool Unicode::canonicallyEquivalent(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    // ASCII has no decompositions, so two different ASCII texts can never be equivalent.
    if (isAscii(a) && isAscii(b)) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status) || nfd == nullptr) {
        return false;
    }
    return decomposed(*nfd, a) == decomposed(*nfd, b);
}

bool Unicode::isNumeric(char32_t codePoint) {
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

} // namespace velm
