#include "Velm_Host/ui/HostWindow.h"

#include "Velm_Host/ui/HostView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace velm {
namespace {

// Without a screen to measure, a height most screens have room for.
constexpr int roomWithoutScreen = 700;
constexpr int shortestWindow = 240;

} // namespace

HostWindow::HostWindow(HostView* view, QWidget* parent)
    : QWidget(parent), view_(view), scroll_(new QScrollArea(this)) {
    setWindowTitle(QString::fromLatin1(title));
    setObjectName(QString::fromLatin1(identifier));
    scroll_->setWidget(view_);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFrameShape(QFrame::NoFrame);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);
    // A section shown or hidden asks for a new layout; the window follows once the form has settled.
    refit_.setSingleShot(true);
    refit_.setInterval(0);
    QObject::connect(&refit_, &QTimer::timeout, this, [this] { fitToForm(); });
    view_->installEventFilter(this);
    fitToForm();
}

void HostWindow::setOnClosed(std::function<void()> handler) {
    onClosed_ = std::move(handler);
}

void HostWindow::bringForward() {
    fitToForm();
    // Shown again while minimized, it would stay in the taskbar.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void HostWindow::fitToForm() {
    const int form =
        view_->hasHeightForWidth() ? view_->heightForWidth(HostView::formWidth) : view_->sizeHint().height();
    const int height = std::min(form, room());
    const bool scrolls = form > height;
    // The scroll bar takes room of its own beside the form, and only while there is something to scroll.
    scroll_->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setFixedWidth(HostView::formWidth + (scrolls ? scroll_->verticalScrollBar()->sizeHint().width() : 0));
    setMinimumHeight(std::min(shortestWindow, height));
    setMaximumHeight(height);
    resize(width(), height);
}

// The screen's height that panels leave free, less the frame the window manager puts around the window.
int HostWindow::room() const {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return roomWithoutScreen;
    }
    const int frame = isVisible() ? frameGeometry().height() - geometry().height() : 0;
    return std::max(shortestWindow, screen->availableGeometry().height() - frame);
}

bool HostWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::LayoutRequest) {
        refit_.start();
    }
    return QWidget::eventFilter(watched, event);
}

void HostWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClosed_) {
        onClosed_();
    }
}

} // namespace velm
