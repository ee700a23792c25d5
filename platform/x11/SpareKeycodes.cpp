#include "platform/x11/SpareKeycodes.h"

#include <algorithm>

namespace velm {

SpareKeycodes::SpareKeycodes(std::vector<std::uint8_t> keycodes, const std::vector<Loan>& lent,
                             std::optional<std::uint8_t> nextKey)
    : keycodes_(std::move(keycodes)), keysyms_(keycodes_.size(), 0) {
    for (const Loan& loan : lent) {
        const auto key = std::find(keycodes_.begin(), keycodes_.end(), loan.keycode);
        if (key != keycodes_.end()) {
            keysyms_[static_cast<std::size_t>(key - keycodes_.begin())] = loan.keysym;
        }
    }
    // The round goes on at that key, or at the first after it that is still in the pool.
    if (nextKey) {
        const auto at = std::find_if(keycodes_.begin(), keycodes_.end(),
                                     [next = *nextKey](std::uint8_t keycode) { return keycode >= next; });
        next_ = at == keycodes_.end() ? 0 : static_cast<std::size_t>(at - keycodes_.begin());
    }
}

std::optional<std::uint8_t> SpareKeycodes::nextKey() const {
    if (keycodes_.empty()) {
        return std::nullopt;
    }
    return keycodes_[next_];
}

std::optional<unsigned long> SpareKeycodes::keysymOf(std::uint8_t keycode) const {
    const auto key = std::find(keycodes_.begin(), keycodes_.end(), keycode);
    if (key == keycodes_.end()) {
        return std::nullopt;
    }
    return keysyms_[static_cast<std::size_t>(key - keycodes_.begin())];
}

std::optional<SpareKeycodes::Choice> SpareKeycodes::keyFor(unsigned long keysym) {
    if (keycodes_.empty()) {
        return std::nullopt;
    }
    const auto held = std::find(keysyms_.begin(), keysyms_.end(), keysym);
    if (held != keysyms_.end()) {
        return Choice{keycodes_[static_cast<std::size_t>(held - keysyms_.begin())], false};
    }
    const std::size_t index = next_;
    next_ = (next_ + 1) % keycodes_.size();
    keysyms_[index] = keysym;
    return Choice{keycodes_[index], true};
}

std::vector<SpareKeycodes::Loan> SpareKeycodes::lentKeys() const {
    std::vector<Loan> lent;
    for (std::size_t index = 0; index < keycodes_.size(); ++index) {
        if (keysyms_[index] != 0) {
            lent.push_back({keycodes_[index], keysyms_[index]});
        }
    }
    return lent;
}

void SpareKeycodes::reset() {
    std::fill(keysyms_.begin(), keysyms_.end(), 0);
    next_ = 0;
}

} // namespace velm
