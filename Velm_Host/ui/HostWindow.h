#pragma once

#include <QWidget>
#include <functional>

class QScrollArea;

namespace velm {

class HostView;

// The main window, "Velm Host" (object name "main"): as wide as the form, and opened as tall as the
// form up to what the screen has room for; the form scrolls beyond that. Closing it only hides it; whoever
// owns it decides what a close means.
class HostWindow : public QWidget {
public:
    static constexpr const char* title = "Velm Host";
    static constexpr const char* identifier = "main";

    // Takes the view.
    explicit HostWindow(HostView* view, QWidget* parent = nullptr);

    void setOnClosed(std::function<void()> handler);
    // Shows the window, or brings it forward, and gives it the keyboard.
    void bringForward();
    // Fits the window to the form's height now.
    void fitToForm();

    HostView* view() const { return view_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    HostView* view_;
    QScrollArea* scroll_;
    std::function<void()> onClosed_;
};

} // namespace velm
