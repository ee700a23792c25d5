#pragma once

#include "tests/support/Screenshots.h"

#include <QCoreApplication>
#include <QLayout>
#include <QWidget>
#include <string>

namespace velm::test {

// Lays a view out at a fixed width and the height its wrapped texts need there, as a form would,
// and keeps the picture under screenshots/.
inline QImage writeWidgetShot(QWidget& widget, int width, const std::string& name) {
    widget.setFixedWidth(width);
    widget.setMinimumHeight(0); // an earlier picture's height no longer binds
    widget.setMaximumHeight(QWIDGETSIZE_MAX);
    // Layouts follow new rows only in a shown window, through posted requests (each answered by one
    // for the layout above, and new rows shown later): show it, never on a screen, and deliver them
    // as the event loop would.
    widget.setAttribute(Qt::WA_DontShowOnScreen);
    widget.show();
    for (int level = 0; level < 8; ++level) {
        QCoreApplication::sendPostedEvents();
    }
    if (QLayout* layout = widget.layout()) {
        layout->activate();
    }
    const int height = widget.hasHeightForWidth() ? widget.heightForWidth(width) : widget.sizeHint().height();
    widget.setFixedHeight(height);
    const QImage image = widget.grab().toImage();
    writeScreenshot(image, name);
    return image;
}

} // namespace velm::test
