#include "platform/x11/SpareKeycodesRecord.h"

#include <bitset>

namespace velm {
namespace {

constexpr unsigned long lowestKeycode = 8;
constexpr unsigned long highestKeycode = 255;
constexpr unsigned long highestKeysym = 0x1FFFFFFF;

} // namespace

std::vector<unsigned long> SpareKeycodesRecord::encode(const std::vector<SpareKeycodes::Loan>& loans) {
    std::vector<unsigned long> items;
    items.reserve(2 * loans.size());
    for (const SpareKeycodes::Loan& loan : loans) {
        items.push_back(loan.keycode);
        items.push_back(loan.keysym);
    }
    return items;
}

std::optional<std::vector<SpareKeycodes::Loan>>
SpareKeycodesRecord::decode(std::span<const unsigned long> items) {
    if (items.size() % 2 != 0 || items.size() / 2 > maxLoans) {
        return std::nullopt;
    }
    std::vector<SpareKeycodes::Loan> loans;
    std::bitset<highestKeycode + 1> named;
    for (std::size_t index = 0; index < items.size(); index += 2) {
        const unsigned long keycode = items[index];
        const unsigned long keysym = items[index + 1];
        if (keycode < lowestKeycode || keycode > highestKeycode || named.test(keycode) || keysym == 0 ||
            keysym > highestKeysym) {
            return std::nullopt;
        }
        named.set(keycode);
        loans.push_back({static_cast<std::uint8_t>(keycode), keysym});
    }
    return loans;
}

} // namespace velm
