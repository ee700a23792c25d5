#pragma once

#include <QColor>
#include <QPalette>

namespace velm {

// The colours of the quieter text styles: secondary (captions, notes, the status of a device) and
// tertiary (the smaller facts under it), of a small warning, and of a button that removes something. The
// greys are the palette's text colour taken part of the way toward the background, the warning is orange
// and the removing button red; each is taken toward the text colour as far as it needs to read at 4.5:1
// at least (the contrast a small text needs to be read without effort) against the form or a section's
// card, whichever is nearer to the text, and the red against the button. All follow the palette, so a
// dark theme gets light greys and a lighter red.
struct TextColours {
    static constexpr double leastContrast = 4.5;

    static QColor secondary(const QPalette& palette);
    static QColor tertiary(const QPalette& palette);
    static QColor warning(const QPalette& palette);
    static QColor destructive(const QPalette& palette);

    // The contrast of two opaque colours as the web's accessibility guidelines define it, from 1 to 21.
    static double contrast(const QColor& one, const QColor& other);
};

} // namespace velm
