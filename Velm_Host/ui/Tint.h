#pragma once

#include <QColor>
#include <QPalette>

namespace velm {

// The three tints the views speak in: green for what is live or healthy, orange for what needs the
// user, secondary for what is neutral or off.
enum class Tint {
    green,
    orange,
    secondary,
};

// The colour of a tint; secondary follows the palette (TextColours), so it stays readable on dark themes.
QColor tintColour(Tint tint, const QPalette& palette);

} // namespace velm
