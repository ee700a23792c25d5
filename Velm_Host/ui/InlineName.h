#pragma once

#include <string>
#include <string_view>

namespace velm {

// A name a device gave itself, made fit to stand in a line of this program's own words ("NAME
// connected", "NAME: a file"). Line breaks, tabs and other control characters become spaces, so
// that the line stays one line (and a tab never reads as a menu's shortcut). A name written right to
// left is set apart as an isolate, and bidirectional controls of its own are dropped, so that the
// name can neither turn the words after it around nor carry the line to the other side. A name with
// neither comes back as it was.
std::string inlineName(std::string_view name);

} // namespace velm
