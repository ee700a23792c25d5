#include "Velm_Host/ui/PaletteFollower.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <utility>

namespace velm {
namespace {

const QString followerName = QStringLiteral("velm-palette-follower");

} // namespace

void PaletteFollower::setTextColour(QWidget& widget, TextColour colour) {
    // Our views carry no Q_OBJECT, so the follower is found by its name and its C++ type.
    for (QObject* child : widget.children()) {
        if (auto* follower = dynamic_cast<PaletteFollower*>(child);
            follower != nullptr && follower->objectName() == followerName) {
            follower->colour_ = std::move(colour);
            follower->apply(widget);
            return;
        }
    }
    auto* follower = new PaletteFollower(widget, std::move(colour));
    follower->apply(widget);
}

PaletteFollower::PaletteFollower(QWidget& widget, TextColour colour)
    : QObject(&widget), colour_(std::move(colour)) {
    setObjectName(followerName);
    widget.installEventFilter(this);
}

// The widget's palette changes as the application's does; setting the colour changes it once more.
bool PaletteFollower::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if ((type == QEvent::PaletteChange || type == QEvent::ApplicationPaletteChange) && watched == parent() &&
        !applying_) {
        apply(*static_cast<QWidget*>(watched));
    }
    return QObject::eventFilter(watched, event);
}

void PaletteFollower::apply(QWidget& widget) {
    const QColor text = colour_(QApplication::palette(&widget));
    QPalette palette = widget.palette();
    if (palette.color(QPalette::WindowText) == text && palette.color(QPalette::ButtonText) == text) {
        return;
    }
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    const bool wasApplying = std::exchange(applying_, true);
    widget.setPalette(palette);
    applying_ = wasApplying;
}

} // namespace velm
