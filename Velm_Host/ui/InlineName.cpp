#include "Velm_Host/ui/InlineName.h"

#include "platform/core/Utf8.h"

#include <unicode/uchar.h>

namespace velm {
namespace {

constexpr char32_t firstStrongIsolate = U'\u2068';
constexpr char32_t popDirectionalIsolate = U'\u2069';

bool breaksTheLine(char32_t point) {
    const auto type = static_cast<UCharCategory>(u_charType(static_cast<UChar32>(point)));
    return type == U_CONTROL_CHAR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

bool isBidiControl(UCharDirection direction) {
    switch (direction) {
    case U_LEFT_TO_RIGHT_EMBEDDING:
    case U_LEFT_TO_RIGHT_OVERRIDE:
    case U_RIGHT_TO_LEFT_EMBEDDING:
    case U_RIGHT_TO_LEFT_OVERRIDE:
    case U_POP_DIRECTIONAL_FORMAT:
    case U_LEFT_TO_RIGHT_ISOLATE:
    case U_RIGHT_TO_LEFT_ISOLATE:
    case U_FIRST_STRONG_ISOLATE:
    case U_POP_DIRECTIONAL_ISOLATE:
        return true;
    default:
        return false;
    }
}

bool readsRightToLeft(UCharDirection direction) {
    return direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC ||
           direction == U_ARABIC_NUMBER;
}

} // namespace

std::string inlineName(std::string_view name) {
    std::u32string kept;
    bool rightToLeft = false;
    for (const char32_t point : Utf8::codePoints(Utf8::repaired(name))) {
        const auto direction = u_charDirection(static_cast<UChar32>(point));
        if (isBidiControl(direction)) {
            continue;
        }
        rightToLeft = rightToLeft || readsRightToLeft(direction);
        kept += breaksTheLine(point) ? U' ' : point;
    }
    if (rightToLeft) {
        kept = firstStrongIsolate + kept + popDirectionalIsolate;
    }
    std::string out;
    out.reserve(name.size() + 6);
    for (const char32_t point : kept) {
        Utf8::append(out, point);
    }
    return out;
}

} // namespace velm
