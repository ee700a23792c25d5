#pragma once

#include <QColor>
#include <QObject>
#include <QPalette>
#include <functional>

class QWidget;

namespace velm {

// Gives a widget a text colour worked out from the application's palette, and works it out again each
// time that palette changes (the desktop turned to its dark style while the host runs): a colour worked
// out once from the light palette would read grey on grey in the dark one. The follower is the
// widget's child; given again, the widget's new colour replaces the old.
class PaletteFollower final : public QObject {
public:
    using TextColour = std::function<QColor(const QPalette& application)>;

    static void setTextColour(QWidget& widget, TextColour colour);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaletteFollower(QWidget& widget, TextColour colour);

    void apply(QWidget& widget);

    TextColour colour_;
    bool applying_ = false;
};

} // namespace velm
