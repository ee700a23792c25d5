#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velm {

// Mirrors a local text field onto the remote computer by keystrokes: for each new value of the field
// it gives the smallest edit (backspaces at the end, then text to type) that turns what was sent so
// far into the new value. Characters are user-perceived characters (extended grapheme clusters),
// compared under canonical equivalence. Texts are UTF-8; invalid bytes read as U+FFFD.
class TextMirror {
public:
    struct Edit {
        std::int64_t backspaces = 0;
        std::string text;

        bool isEmpty() const { return backspaces == 0 && text.empty(); }
        // Texts are equal when canonically equivalent.
        friend bool operator==(const Edit& a, const Edit& b);
    };

    // The edit from what was typed so far to the new value; afterwards the new value counts as typed.
    Edit edit(std::string_view newValue);

    // Takes the value as already typed, without producing an edit.
    void reset(std::string_view value);

    // What the remote side has received so far; never holds U+FFFC.
    const std::string& typed() const { return typed_; }

private:
    std::string typed_;
};

} // namespace velm
