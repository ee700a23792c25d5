#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace velm {

// Keys of the keyboard map that no key symbol is on, lent out to type characters the layout lacks.
// Each gets the character's keysym for as long as it is needed. Applications read a changed map
// lazily, after the key event that follows the change may already be waiting, so a key is given a new
// keysym only after every other spare key was given one since: the longest time the map allows
// between typing a key and changing it again. A key that already holds the keysym is used as it is.
class SpareKeycodes {
public:
    struct Choice {
        std::uint8_t keycode;
        // True when the key must be given the keysym first.
        bool changesMap;
    };

    // A key lent out, and the keysym it was given.
    struct Loan {
        std::uint8_t keycode;
        unsigned long keysym;
        bool operator==(const Loan&) const = default;
    };

    // `lent`: the loans of keys among `keycodes` that still hold what they were given. `nextKey`: where
    // an earlier pool's round had come to, so that a pool read again keeps the longest time between
    // changes of one key.
    explicit SpareKeycodes(std::vector<std::uint8_t> keycodes = {}, const std::vector<Loan>& lent = {},
                           std::optional<std::uint8_t> nextKey = std::nullopt);

    // The key that types `keysym`; nothing when there is no spare key at all.
    std::optional<Choice> keyFor(unsigned long keysym);
    const std::vector<std::uint8_t>& keycodes() const { return keycodes_; }
    // The key the next change goes to; nothing for an empty pool.
    std::optional<std::uint8_t> nextKey() const;
    // What a key of the pool is believed to hold: its keysym, or 0 when empty; nothing for a key
    // outside the pool.
    std::optional<unsigned long> keysymOf(std::uint8_t keycode) const;
    // The keys given a keysym since the last reset, to be emptied again.
    std::vector<Loan> lentKeys() const;
    // Every key counts as empty again.
    void reset();

private:
    std::vector<std::uint8_t> keycodes_;
    // Parallel to keycodes_; 0 (NoSymbol) for a key that holds nothing.
    std::vector<unsigned long> keysyms_;
    std::size_t next_ = 0;
};

} // namespace velm
