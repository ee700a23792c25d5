// A small Qt Widgets window for the accessibility tests: a button with empty space beside it, a line
// edit and an editable combo box, at fixed places. Run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 it shows
// them on the accessibility bus; it takes the keyboard focus itself, since no window manager gives it.
// Crowded, it is a wide tree for the searches that must stay within their bounds; with windows that
// all claim to be active, it is many such trees at once.
#include "tests/programs/AccessibleWindowLayout.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <memory>
#include <vector>

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

constexpr const char* alwaysActiveName = "always active";

// Toolkits mark only the window that has the keyboard as active; an application may mark more.
class AlwaysActiveWindow final : public QAccessibleWidget {
public:
    explicit AlwaysActiveWindow(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.active = true;
        // The keyboard's window is the main one.
        state.focused = false;
        return state;
    }
};

QAccessibleInterface* alwaysActive(const QString&, QObject* object) {
    if (object && object->isWidgetType() && object->objectName() == alwaysActiveName) {
        return new AlwaysActiveWindow(static_cast<QWidget*>(object));
    }
    return nullptr;
}

// Shown before the main window, so that they come first among the application's windows.
std::vector<std::unique_ptr<QWidget>> showActiveWindows() {
    QAccessible::installFactory(alwaysActive);
    std::vector<std::unique_ptr<QWidget>> windows;
    for (int index = 0; index < Layout::activeWindows; ++index) {
        auto window = std::make_unique<QWidget>();
        window->setObjectName(alwaysActiveName);
        window->setGeometry(Layout::beside.x + 20 * index, Layout::beside.y, Layout::beside.width,
                            Layout::beside.height);
        crowd(panel(*window, 0, Layout::beside.height));
        window->show();
        windows.push_back(std::move(window));
    }
    return windows;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    std::vector<std::unique_ptr<QWidget>> activeWindows;
    if (argc > 1 && std::strcmp(argv[1], Layout::activeWindowsArgument) == 0) {
        activeWindows = showActiveWindows();
    }
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
