// A small Qt Widgets window for the accessibility tests: a button with empty space beside it, a line
// edit and an editable combo box, at fixed places. Run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 it shows
// them on the accessibility bus; it takes the keyboard focus itself, since no window manager gives it.
#include "tests/programs/AccessibleWindowLayout.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QTimer>
#include <QWidget>

namespace {

namespace Layout = velm::test::AccessibleWindowLayout;

QRect inWindow(const velm::ScreenRect& rect) {
    return {rect.x - Layout::window.x, rect.y - Layout::window.y, rect.width, rect.height};
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
    window.show();
    QTimer::singleShot(0, &window, [&window] { window.activateWindow(); });
    return QApplication::exec();
}
