#pragma once

#include <string>

namespace velm {

// AT-SPI roles under the "AX…" names that tap targeting and the text-focus monitor reason with.
namespace AtspiRoles {

// The name of an AT-SPI role (an AtspiRole number) for an element with these states. A role the
// table does not name keeps AT-SPI's own name ("table cell"), which counts as content; a number
// outside AT-SPI's list reads as "AXUnknown".
std::string name(int role, bool isEditable, bool isMultiLine);

} // namespace AtspiRoles

} // namespace velm
