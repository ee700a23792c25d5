#include "protocol/FileItem.h"

#include "platform/core/Utf8.h"
#include "platform/core/Uuid.h"
#include "protocol/UnicodeText.h"

#include <cstdint>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <utility>

namespace velm {
namespace {

constexpr int lastNumberedCopy = 9999;

// What a path's last component is: a trailing slash is ignored, and the root stays "/".
std::string_view lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

bool mustBeReplaced(UChar32 c) {
    if (c == '/' || c == ':' || c == '\\') {
        return true;
    }
    const auto type = u_charType(c);
    return type == U_CONTROL_CHAR || type == U_FORMAT_CHAR;
}

bool isSpaceOrLineBreak(UChar32 c) {
    if (c == '\t' || (c >= 0x0A && c <= 0x0D) || c == 0x85) {
        return true;
    }
    const auto type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

// One "_" in place of each character that could split a path or hide in the name.
std::string withUnsafeCharactersReplaced(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    const auto length = static_cast<std::int64_t>(text.size());
    for (std::int64_t at = 0; at < length;) {
        const std::int64_t start = at;
        UChar32 c = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion" // inside ICU's macro
        U8_NEXT(text.data(), at, length, c);
#pragma GCC diagnostic pop
        if (mustBeReplaced(c)) {
            result += '_';
        } else {
            result.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
        }
    }
    return result;
}

UChar32 codePointAt(std::string_view text, std::size_t at) {
    const auto length = static_cast<std::int64_t>(text.size());
    auto next = static_cast<std::int64_t>(at);
    UChar32 c = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion" // inside ICU's macro
    U8_NEXT(text.data(), next, length, c);
#pragma GCC diagnostic pop
    return c;
}

std::string_view trimmed(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const UChar32 c = codePointAt(text, start);
        if (!isSpaceOrLineBreak(c)) {
            break;
        }
        start += U8_LENGTH(c);
    }
    std::size_t end = text.size();
    while (end > start) {
        std::size_t last = end - 1;
        while (last > start && U8_IS_TRAIL(text[last])) {
            --last;
        }
        if (!isSpaceOrLineBreak(codePointAt(text, last))) {
            break;
        }
        end = last;
    }
    return text.substr(start, end - start);
}

// Neither a leading dot nor white space at either end. Trimming can uncover a dot and removing
// dots can uncover white space (" .ssh", ". .x"), so both go on until neither finds anything.
std::string_view visible(std::string_view name) {
    while (true) {
        const std::size_t before = name.size();
        name = trimmed(name);
        while (name.starts_with('.')) {
            name.remove_prefix(1);
        }
        if (name.size() == before) {
            return name;
        }
    }
}

// The extension is the text after the final dot; a name without a dot, whose only dot is its
// first character or that ends in its final dot has none, and is all base.
std::pair<std::string_view, std::string_view> baseAndExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return {name, {}};
    }
    return {name.substr(0, dot), name.substr(dot + 1)};
}

// The name cut to maxNameBytes at a boundary between user-perceived characters. The base loses
// characters from its end while at least one of them is left; only then does the name as a
// whole lose characters from its end. The result is what dropping one character at a time and
// measuring again would give, found without going round that loop.
std::string shortened(std::string name) {
    if (name.size() <= FileItem::maxNameBytes) {
        return name;
    }
    const auto [base, extension] = baseAndExtension(name);
    if (!extension.empty()) {
        const std::size_t suffix = extension.size() + 1;
        if (suffix < FileItem::maxNameBytes) {
            const std::size_t kept = UnicodeText::graphemePrefixLength(base, FileItem::maxNameBytes - suffix);
            if (kept > 0) {
                return std::string(base.substr(0, kept)) + "." + std::string(extension);
            }
        }
        name = std::string(base.substr(0, UnicodeText::firstGraphemeLength(base))) + "." +
               std::string(extension);
    }
    name.resize(UnicodeText::graphemePrefixLength(name, FileItem::maxNameBytes));
    return name;
}

} // namespace

std::string FileItem::safeName(std::string_view received) {
    // Composed, as names here are: the folder's names are compared byte for byte, so a name that
    // arrives decomposed would otherwise sit beside the same-looking one it should be numbered after.
    const std::string text = UnicodeText::composed(Utf8::repaired(received));
    std::string name(visible(withUnsafeCharactersReplaced(lastPathComponent(text))));
    if (!name.empty()) {
        // A first character longer than the limit on its own leaves nothing. A cut can end
        // right after white space, which trimming again removes; the cut kept the front, so
        // no dot is uncovered there, and cleaning the result once more changes nothing.
        name = std::string(visible(shortened(std::move(name))));
    }
    return name.empty() ? std::string(fallbackName) : name;
}

std::string FileItem::uniqueName(std::string_view name, const IsTaken& isTaken) {
    const std::string safe = safeName(name);
    if (!isTaken(safe)) {
        return safe;
    }
    const auto [base, extension] = baseAndExtension(safe);
    std::string suffix;
    if (!extension.empty()) {
        suffix.append(".").append(extension);
    }
    for (int copy = 2; copy <= lastNumberedCopy; ++copy) {
        std::string candidate(base);
        candidate.append(" ").append(std::to_string(copy)).append(suffix);
        if (!isTaken(candidate)) {
            return candidate;
        }
    }
    // Untested, as a fresh UUID cannot be taken; an extension that would carry it past the
    // limit is left off, since the file system refuses names much longer.
    const std::string uuid = Uuid::random().string();
    return uuid.size() + suffix.size() <= maxNameBytes ? uuid + suffix : uuid;
}

} // namespace velm
