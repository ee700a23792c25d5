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

// Of the screen's height, what the window may take before the form scrolls.
constexpr double screenShare = 0.85;
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
    fitToForm();
}

void HostWindow::setOnClosed(std::function<void()> handler) {
    onClosed_ = std::move(handler);
}

void HostWindow::bringForward() {
    fitToForm();
    show();
    raise();
    activateWindow();
}

void HostWindow::fitToForm() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? static_cast<int>(screen->availableGeometry().height() * screenShare) : 800;
    const int form = view_->sizeHint().height();
    setFixedWidth(HostView::formWidth + scroll_->verticalScrollBar()->sizeHint().width());
    setMinimumHeight(std::min(shortestWindow, form));
    resize(width(), std::min(form, std::max(room, shortestWindow)));
}

void HostWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClosed_) {
        onClosed_();
    }
}

} // namespace velm
