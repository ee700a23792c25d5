// A small Qt Widgets window for the accessibility tests: a button with empty space beside it, a line
// edit and an editable combo box, at fixed places. Run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 it shows
// them on the accessibility bus; it takes the keyboard focus itself, since no window manager gives it.
// Crowded, it is a wide tree for the searches that must stay within their bounds.
#include "tests/programs/AccessibleWindowLayout.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <cstring>

namespace {

namespace Layout = velm::test::AccessibleWindowLayout;

QRect inWindow(const velm::ScreenRect& rect) {
    return {rect.x - Layout::window.x, rect.y - Layout::window.y, rect.width, rect.height};
}

// A strip of the window, the whole width across, from `top` to `bottom`.
QWidget* panel(QWidget& window, int top, int bottom) {
    auto* strip = new QWidget(&window);
    strip->setGeometry(0, top, Layout::window.width, bottom - top);
    return strip;
}

// Labels piled in the panel's corner: they show, and only their number matters.
void crowd(QWidget* panel) {
    for (int index = 0; index < Layout::labelsPerPanel; ++index) {
        auto* label = new QLabel(QString::number(index), panel);
        label->setGeometry(0, 0, 20, 12);
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle("velm accessible window");
    window.setGeometry(Layout::window.x, Layout::window.y, Layout::window.width, Layout::window.height);
    auto* button = new QPushButton("Press", &window);
    button->setGeometry(inWindow(Layout::button));
    auto* field = new QLineEdit(&window);
    field->setGeometry(inWindow(Layout::field));
    auto* comboBox = new QComboBox(&window);
    comboBox->setEditable(true);
    comboBox->addItems({"one", "two"});
    comboBox->setGeometry(inWindow(Layout::comboBox));
    if (argc > 1 && std::strcmp(argv[1], Layout::crowdedArgument) == 0) {
        crowd(panel(window, 150, 190));
        QWidget* second = panel(window, 190, Layout::window.height);
        auto* crowdedField = new QLineEdit(second);
        crowdedField->setGeometry(inWindow(Layout::crowdedField).translated(0, -190));
        crowd(second);
        crowdedField->setFocus();
    }
    window.show();
    QTimer::singleShot(0, &window, [&window] { window.activateWindow(); });
    return QApplication::exec();
}
