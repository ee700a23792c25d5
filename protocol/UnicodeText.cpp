#include "protocol/UnicodeText.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>

#include "platform/core/Utf8.h"

namespace velm {
namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<std::uint8_t>(c) < 0x80; });
}

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

bool UnicodeText::isNumeric(char32_t codePoint) {
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

} // namespace velm
