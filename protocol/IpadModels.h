#pragma once

#include <optional>
#include <string_view>

namespace velm {

// Fixed facts about tablet model identifiers ("iPad13,4"), for names and outlines.
class IpadModels {
public:
    // The marketing name of a known identifier, or nothing.
    static std::optional<std::string_view> marketingName(std::string_view identifier);

    // Whether the identifier belongs to the professional line (its marketing name begins with "iPad Pro").
    static bool isProfessional(std::string_view identifier);

    // Whether the identifier is one of the later tablets that still have a home button.
    static bool isInHomeButtonSet(std::string_view identifier);
};

} // namespace velm
