#pragma once

#include "platform/x11/SpareKeycodes.h"

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace velm {

// The spare keys a host has lent out, as it keeps them on the X display (a property of the root
// window) while they hold a keysym: a host that ends without giving them back leaves the record, and
// the next one empties exactly those keys. Any program may write that property, so a record is read
// only when it is exactly of the shape written here; anything else is ignored whole.
class SpareKeycodesRecord {
public:
    // A keyboard map has at most this many keycodes (8 to 255), so a record never needs more loans.
    static constexpr std::size_t maxLoans = 248;

    // The property's 32-bit items: keycode, keysym, keycode, keysym, ...
    static std::vector<unsigned long> encode(const std::vector<SpareKeycodes::Loan>& loans);
    // Nothing unless the items are whole pairs, at most maxLoans of them, each of a keycode from 8 to
    // 255 that no other pair names and a keysym other than NoSymbol that fits in X's 29 bits.
    static std::optional<std::vector<SpareKeycodes::Loan>> decode(std::span<const unsigned long> items);
};

} // namespace velm
