#include "platform/x11/SpareKeycodes.h"

#include <algorithm>

namespace velm {

SpareKeycodes::SpareKeycodes(std::vector<std::uint8_t> keycodes)
    : keycodes_(std::move(keycodes)), keysyms_(keycodes_.size(), 0) {}

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
