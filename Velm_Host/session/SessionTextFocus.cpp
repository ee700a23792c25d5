#include "Velm_Host/session/SessionTextFocus.h"

#include "Velm_Host/session/ScreenGeometry.h"

namespace velm {

std::optional<TextInputArea> SessionTextFocus::inputArea(const Rect& frame, const Rect& screen) {
    if (!isUsable(frame.origin) || !isUsable(frame.size) || !isUsable(screen.origin) ||
        !isUsable(screen.size) || !(screen.width() > 0 && screen.height() > 0)) {
        return std::nullopt;
    }
    const Rect clipped = ScreenGeometry::intersection(frame, screen);
    if (!(clipped.width() > 0 && clipped.height() > 0)) {
        return std::nullopt;
    }
    return TextInputArea{(clipped.minX() - screen.minX()) / screen.width(),
                         (clipped.minY() - screen.minY()) / screen.height(), clipped.width() / screen.width(),
                         clipped.height() / screen.height()};
}

} // namespace velm
