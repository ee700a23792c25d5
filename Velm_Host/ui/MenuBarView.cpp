#include "Velm_Host/ui/MenuBarView.h"

#include "Velm_Host/ui/InlineName.h"
#include "Velm_Host/ui/PlainLabel.h"
#include "Velm_Host/ui/TextColours.h"

#include <QAction>
#include <QFontMetrics>

namespace velm {
namespace {

// A device name of many letters would otherwise make the menu as wide as the screen.
constexpr int longestStatus = 360;

} // namespace

MenuBarView::MenuBarView(std::shared_ptr<HostModel> model, QWidget* parent)
    : QMenu(parent), model_(std::move(model)) {
    status_ = addAction(QString());
    status_->setEnabled(false);
    // The status is the one item not to be chosen, yet the first thing to read: in the secondary
    // style, not in the faint grey of an item that is turned off.
    QPalette colours = palette();
    for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        colours.setColor(QPalette::Disabled, role, TextColours::secondary(colours));
    }
    setPalette(colours);
    disconnect_ = addAction(QStringLiteral("Disconnect"));
    addSeparator();
    remoteAccess_ = addAction(QStringLiteral("Allow Remote Access"));
    remoteAccess_->setCheckable(true);
    openWindow_ = addAction(QStringLiteral("Open Velm Host…"));
    addSeparator();
    quit_ = addAction(QStringLiteral("Quit Velm Host"));

    QObject::connect(disconnect_, &QAction::triggered, this, [this] { disconnectSession(); });
    QObject::connect(remoteAccess_, &QAction::triggered, this,
                     [this](bool on) { model_->setAllowRemoteAccess(on); });
    QObject::connect(openWindow_, &QAction::triggered, this, [this] {
        if (onOpenWindow_) {
            onOpenWindow_();
        }
    });
    QObject::connect(quit_, &QAction::triggered, this, [this] {
        if (onQuit_) {
            onQuit_();
        }
    });
    refresh();
}

void MenuBarView::setOnOpenWindow(std::function<void()> handler) {
    onOpenWindow_ = std::move(handler);
}

void MenuBarView::setOnQuit(std::function<void()> handler) {
    onQuit_ = std::move(handler);
}

void MenuBarView::refresh() {
    const HostModel::State& state = model_->state();
    const QString text = QString::fromStdString(statusText(state));
    status_->setText(
        actionTitle(QFontMetrics(font()).elidedText(text, Qt::ElideRight, longestStatus).toStdString()));
    disconnect_->setVisible(state.connected.has_value());
    remoteAccess_->setChecked(state.allowRemoteAccess);
}

std::string MenuBarView::statusText(const HostModel::State& state) {
    if (state.connected) {
        return inlineName(state.connected->deviceName) + " connected";
    }
    return state.allowRemoteAccess ? "Waiting for a device" : "Remote access is off";
}

// The outcome shows once the model publishes the session's end.
void MenuBarView::disconnectSession() {
    if (const auto session = model_->session()) {
        session->close(ByeReason::remoteAccessDisabled);
    }
}

} // namespace velm
