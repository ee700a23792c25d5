#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

class QScrollArea;

namespace velm {

class HostView;

// The main window, "Velm Host" (object name "main"): as wide as the form and as tall as it, growing
// and shrinking with it as sections come and go, up to the height the screen has room for; only a
// form taller than that scrolls, and only then is a scroll bar added beside it. Closing it only hides
// it; whoever owns it decides what a close means.
class HostWindow : public QWidget {
public:
    static constexpr const char* title = "Velm Host";
    static constexpr const char* identifier = "main";

    // Takes the view.
    explicit HostWindow(HostView* view, QWidget* parent = nullptr);

    void setOnClosed(std::function<void()> handler);
    // Shows the window, or brings it forward, and gives it the keyboard.
    void bringForward();
    // Fits the window to the form now (it does by itself once the form's layout changed).
    void fitToForm();

    HostView* view() const { return view_; }
    QScrollArea* scrollArea() const { return scroll_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    int room() const;

    HostView* view_;
    QScrollArea* scroll_;
    QTimer refit_;
    std::function<void()> onClosed_;
};

} // namespace velm
