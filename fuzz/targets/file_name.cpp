// Received file names: the cleaned name keeps every promise, and cleaning it again changes nothing.
// Input: the name, then the names already taken, for the numbering.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "platform/core/Utf8.h"
#include "protocol/FileItem.h"

#include <cstdlib>
#include <set>
#include <string>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace velm::fuzz {
namespace {

bool isWhiteSpace(UChar32 c) {
    const auto type = u_charType(c);
    return c == '\t' || (c >= 0x0A && c <= 0x0D) || c == 0x85 || type == U_SPACE_SEPARATOR ||
           type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

UChar32 firstCodePoint(const std::string& name) {
    std::int32_t at = 0;
    UChar32 c = 0;
    U8_NEXT(name.data(), at, static_cast<std::int32_t>(name.size()), c);
    return c;
}

UChar32 lastCodePoint(const std::string& name) {
    auto at = static_cast<std::int32_t>(name.size());
    UChar32 c = 0;
    U8_PREV(name.data(), 0, at, c);
    return c;
}

// `limit`: the cleaned name's bytes, with room for a number (" 9999") once it is numbered.
bool keepsThePromises(const std::string& name, std::size_t limit) {
    if (name.empty() || name.size() > limit || !Utf8::isValid(name) || name.front() == '.' ||
        isWhiteSpace(firstCodePoint(name)) || isWhiteSpace(lastCodePoint(name))) {
        return false;
    }
    for (std::int32_t at = 0; at < static_cast<std::int32_t>(name.size());) {
        UChar32 c = 0;
        U8_NEXT(name.data(), at, static_cast<std::int32_t>(name.size()), c);
        const auto type = u_charType(c);
        if (c == '/' || c == ':' || c == '\\' || type == U_CONTROL_CHAR || type == U_FORMAT_CHAR) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<Bytes> seeds() {
    std::vector<Bytes> all;
    for (const std::string& name :
         std::vector<std::string>{"report.pdf", "../../etc/passwd", " .hidden ", "invoice\u202Efdp.exe",
                                  std::string(250, 'a') + " b", "\u0915\u094D.txt"}) {
        all.push_back(FuzzScript().piece(toBytes(name)).piece(toBytes(FileItem::safeName(name))).take());
    }
    return all;
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::string received = toString(input.piece());
    const std::string safe = FileItem::safeName(received);
    if (!fuzz::keepsThePromises(safe, FileItem::maxNameBytes) || FileItem::safeName(safe) != safe) {
        std::abort();
    }
    std::set<std::string> taken;
    while (!input.empty() && taken.size() < 16) {
        taken.insert(toString(input.piece()));
    }
    const std::string unique =
        FileItem::uniqueName(received, [&taken](const std::string& name) { return taken.contains(name); });
    if (taken.contains(unique) || !fuzz::keepsThePromises(unique, FileItem::maxNameBytes + 5)) {
        std::abort();
    }
}

} // namespace velm::fuzz
