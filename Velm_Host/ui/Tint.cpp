#include "Velm_Host/ui/Tint.h"

#include "Velm_Host/ui/TextColours.h"

namespace velm {

QColor tintColour(Tint tint, const QPalette& palette) {
    switch (tint) {
    case Tint::green:
        return QColor(0x28, 0xB4, 0x46);
    case Tint::orange:
        return QColor(0xF0, 0x8C, 0x00);
    case Tint::secondary:
        break;
    }
    return TextColours::secondary(palette);
}

} // namespace velm
