#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velm {

// Reads one element's text out of a router's XML answer without an XML parser:
// router answers are hostile input, so nothing here expands entities, recurses
// or backtracks. Every call runs in time linear in the text.
struct TagScanner {
    // The text between the first opening tag of `name` (optionally with a
    // namespace prefix and attributes: "<u:name a=\"1\">") and the first
    // closing tag of `name` after it, trimmed of white space. Case-sensitive;
    // nested or repeated elements are not handled.
    static std::optional<std::string> tagValue(std::string_view name, std::string_view text);
};

} // namespace velm
