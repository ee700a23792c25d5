#pragma once

#include "platform/display/ClipboardContent.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// The copied-files forms of the X clipboard: text/uri-list (RFC 2483: one URI a line, lines
// starting with "#" are comments) and x-special/gnome-copied-files (a first line "copy" or "cut",
// then the URIs). The data comes from another process.
namespace CopiedFiles {

inline constexpr std::size_t maxItems = 20;

// The local paths of the first `maxItems` items, in order; items that are not file URIs of this
// machine, or that decode to no usable path, still count as looked at.
std::vector<std::string> paths(std::string_view data, bool gnomeForm);

// The regular files among `paths` with their names and sizes (links are followed).
std::vector<CopiedFile> regularFiles(const std::vector<std::string>& paths);

} // namespace CopiedFiles

} // namespace velm
