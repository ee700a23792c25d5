#include "transport/away/router/TagScanner.h"

#include <cctype>
#include <cstddef>

namespace velm {
namespace {

constexpr std::string_view whiteSpace = " \t\n\v\f\r";

bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool isSpace(char c) {
    return whiteSpace.find(c) != std::string_view::npos;
}

// Where `name` can start after the "<" (or "</") at `at`: after a prefix of
// word characters and a colon, or right there. Each is npos when it does not fit.
struct NameStarts {
    std::size_t prefixed = std::string_view::npos;
    std::size_t plain = std::string_view::npos;
};

NameStarts nameStarts(std::string_view text, std::size_t at, std::string_view name) {
    NameStarts starts;
    std::size_t end = at;
    while (end < text.size() && isWordChar(text[end])) {
        ++end;
    }
    if (end > at && end < text.size() && text[end] == ':' && text.substr(end + 1, name.size()) == name) {
        starts.prefixed = end + 1;
    }
    if (text.substr(at, name.size()) == name) {
        starts.plain = at;
    }
    return starts;
}

struct Match {
    std::size_t begin;
    std::size_t end;
};

// "<" [prefix ":"] name [white space, anything but ">"] ">"
std::optional<Match> findOpening(std::string_view text, std::string_view name) {
    for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        const NameStarts starts = nameStarts(text, at + 1, name);
        for (const std::size_t start : {starts.prefixed, starts.plain}) {
            if (start == std::string_view::npos || start + name.size() >= text.size()) {
                continue;
            }
            const std::size_t after = start + name.size();
            if (text[after] == '>') {
                return Match{at, after + 1};
            }
            if (!isSpace(text[after])) {
                continue;
            }
            // Without a ">" further on, no later tag can be complete either.
            const std::size_t close = text.find('>', after);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            return Match{at, close + 1};
        }
    }
    return std::nullopt;
}

// "</" [prefix ":"] name ">", searched from `from`.
std::optional<Match> findClosing(std::string_view text, std::string_view name, std::size_t from) {
    for (std::size_t at = text.find("</", from); at != std::string_view::npos; at = text.find("</", at + 1)) {
        const NameStarts starts = nameStarts(text, at + 2, name);
        for (const std::size_t start : {starts.prefixed, starts.plain}) {
            const std::size_t after = start == std::string_view::npos ? start : start + name.size();
            if (after < text.size() && text[after] == '>') {
                return Match{at, after + 1};
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> TagScanner::tagValue(std::string_view name, std::string_view text) {
    if (name.empty()) {
        return std::nullopt;
    }
    const auto opening = findOpening(text, name);
    if (!opening) {
        return std::nullopt;
    }
    const auto closing = findClosing(text, name, opening->end);
    if (!closing) {
        return std::nullopt;
    }
    std::string_view value = text.substr(opening->end, closing->begin - opening->end);
    const auto first = value.find_first_not_of(whiteSpace);
    if (first == std::string_view::npos) {
        return std::string();
    }
    value = value.substr(first, value.find_last_not_of(whiteSpace) - first + 1);
    return std::string(value);
}

} // namespace velm
