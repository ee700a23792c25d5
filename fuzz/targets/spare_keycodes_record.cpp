// The record of lent spare keys, a property of the root window that any program on the display may
// write: whatever it holds, a record read from it names each keycode of the map at most once, with
// a keysym, and writing it again gives the same items.
#include "fuzz/Target.h"
#include "platform/x11/SpareKeycodesRecord.h"

#include <cstdlib>
#include <cstring>
#include <set>

namespace velm::fuzz {
namespace {

Bytes bytesOf(const std::vector<unsigned long>& items) {
    Bytes bytes;
    for (const unsigned long item : items) {
        const auto value = static_cast<std::uint32_t>(item);
        const auto* first = reinterpret_cast<const std::uint8_t*>(&value);
        bytes.insert(bytes.end(), first, first + sizeof value);
    }
    return bytes;
}

} // namespace

std::vector<Bytes> seeds() {
    return {bytesOf(SpareKeycodesRecord::encode({{93, 0xE9}, {8, 0x101F600}, {255, 0xFF09}})),
            bytesOf({93, 0xE9, 93, 0xFC}), Bytes{}};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    // The items as Xlib hands out a 32-bit property: in longs, sign-extended.
    std::vector<unsigned long> items(size / 4);
    for (std::size_t index = 0; index < items.size(); ++index) {
        std::int32_t value = 0;
        std::memcpy(&value, data + 4 * index, sizeof value);
        items[index] = static_cast<unsigned long>(static_cast<long>(value));
    }
    const auto loans = SpareKeycodesRecord::decode(items);
    if (!loans) {
        return;
    }
    std::set<std::uint8_t> keycodes;
    for (const SpareKeycodes::Loan& loan : *loans) {
        if (loan.keycode < 8 || loan.keysym == 0 || !keycodes.insert(loan.keycode).second) {
            std::abort();
        }
    }
    if (loans->size() > SpareKeycodesRecord::maxLoans || SpareKeycodesRecord::encode(*loans) != items) {
        std::abort();
    }
}

} // namespace velm::fuzz
