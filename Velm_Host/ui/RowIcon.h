#pragma once

#include <QPalette>
#include <QPixmap>

namespace velm {

// The small symbols in front of rows, drawn rather than taken from an icon theme, so they look the
// same on every desktop (and with none).
enum class RowIcon {
    running,   // a session still running: a green dot
    session,   // a session that ended: two screens
    file,      // a file connection: a page
    refused,   // an attempt turned away: an orange shield
    granted,   // a setting in order: a green check
    attention, // a setting that needs the user: an orange "!"
};

// The symbol `points` wide and high, drawn for the given device pixel ratio.
QPixmap rowIconPixmap(RowIcon icon, int points, qreal devicePixelRatio, const QPalette& palette);

} // namespace velm
