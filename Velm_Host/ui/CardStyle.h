#pragma once

#include <QColor>
#include <QPixmap>

class QLabel;
class QPushButton;
class QWidget;

namespace velm {

// How the device cards look: text styles, the status dot, the small and destructive buttons.
struct CardStyle {
    enum class Text {
        headline,  // the device's name
        caption,   // the status line, secondary
        tertiary,  // the smaller lines under it
        warning,   // a smaller line that needs the user: orange, deep enough to read
        secondary, // the note when no device is paired
    };

    static constexpr int portraitHeight = 150;
    static constexpr int portraitPadding = 6;
    // Cards of devices that are not live are drawn with their colours muted to this.
    static constexpr double idleSaturation = 0.6;

    static QColor green();

    static void apply(QLabel& label, Text text);
    static void makeSmall(QPushButton& button);
    static void makeDestructive(QWidget& control);
    // The dot before the status line: filled green for the live device, else a hollow grey ring.
    static QPixmap statusDot(bool isLive, double devicePixelRatio);
};

} // namespace velm
