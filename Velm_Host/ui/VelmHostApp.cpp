#include "Velm_Host/ui/VelmHostApp.h"

#include "Velm_Host/ui/HostWindow.h"
#include "Velm_Host/ui/MenuBarIcon.h"
#include "Velm_Host/ui/MenuBarView.h"
#include "Velm_Host/ui/OpenPairing.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <QCursor>
#include <QGuiApplication>
#include <QSystemTrayIcon>

namespace velm {
namespace {

const Log velmHostAppLog("host");

} // namespace

std::shared_ptr<VelmHostApp> VelmHostApp::make(std::shared_ptr<HostModel> model, Options options) {
    return std::shared_ptr<VelmHostApp>(new VelmHostApp(std::move(model), std::move(options)));
}

VelmHostApp::VelmHostApp(std::shared_ptr<HostModel> model, Options options)
    : model_(std::move(model)), options_(std::move(options)) {}

// The icon points at the menu, so it goes first.
VelmHostApp::~VelmHostApp() {
    tray_.reset();
    menu_.reset();
    window_.reset();
}

void VelmHostApp::setOnChange(std::function<void()> handler) {
    onChange_ = std::move(handler);
}

void VelmHostApp::setOnFinished(std::function<void()> handler) {
    onFinished_ = std::move(handler);
}

void VelmHostApp::start(bool pair) {
    if (started_) {
        return;
    }
    started_ = true;
    // The window's close is ours to decide, and quitting waits for the model.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    const auto self = shared_from_this();
    model_->setOnChange(whileAlive(self, &VelmHostApp::modelChanged));
    model_->start();

    window_ = std::make_unique<HostWindow>(new HostView(model_, std::move(options_.view)));
    window_->setOnClosed(whileAlive(self, &VelmHostApp::windowClosed));
    menu_ = std::make_unique<MenuBarView>(model_);
    menu_->setOnOpenWindow(whileAlive(self, &VelmHostApp::openMainWindow));
    menu_->setOnQuit(whileAlive(self, &VelmHostApp::quit));
    if (options_.tray) {
        options_.tray->setOnChange(whileAlive(self, &VelmHostApp::trayChanged));
    }
    if (options_.tray && options_.tray->isPresent()) {
        makeTrayIcon();
    } else {
        velmHostAppLog.info("no system tray: the main window stands in for it");
    }
    modelChanged();

    if (pair) {
        openPairing(*model_->registry());
        openMainWindow();
    } else if (!tray_) {
        showStandIn();
    }
}

void VelmHostApp::makeTrayIcon() {
    tray_ = std::make_unique<QSystemTrayIcon>(MenuBarIcon::icon(false));
    tray_->setContextMenu(menu_.get());
    // A click opens the menu as a right click does: the menu is all the icon offers.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, menu_.get(),
                     [menu = menu_.get()](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) {
                             menu->popup(QCursor::pos());
                         }
                     });
    tray_->show();
    iconConnected_ = false;
}

void VelmHostApp::trayChanged() {
    if (quitting_ || options_.tray->isPresent() == (tray_ != nullptr)) {
        return;
    }
    if (tray_) {
        velmHostAppLog.info("the system tray went away: the main window stands in for it");
        tray_.reset();
        showStandIn();
        return;
    }
    velmHostAppLog.info("a system tray appeared: the host moves into it");
    makeTrayIcon();
    modelChanged();
    if (standsIn_) {
        standsIn_ = false;
        window_->hide();
    }
}

void VelmHostApp::showStandIn() {
    if (!window_->isVisible()) {
        standsIn_ = true;
        window_->bringForward();
    }
}

void VelmHostApp::openMainWindow() {
    if (window_) {
        standsIn_ = false;
        // What the window shows beyond the model's state (the settings program, installed since or
        // removed) is looked at again as it opens.
        window_->view()->refresh();
        window_->bringForward();
    }
}

// Without a tray nothing else is left of the application on the screen.
void VelmHostApp::windowClosed() {
    standsIn_ = false;
    if (!tray_) {
        quit();
    }
}

void VelmHostApp::quit() {
    if (quitting_) {
        return;
    }
    quitting_ = true;
    model_->quit(whileAlive(shared_from_this(), &VelmHostApp::finish));
}

void VelmHostApp::finish() {
    finished_ = true;
    if (tray_) {
        tray_->hide();
    }
    if (onFinished_) {
        onFinished_();
    }
}

void VelmHostApp::modelChanged() {
    if (window_) {
        window_->view()->refresh();
    }
    if (menu_) {
        menu_->refresh();
    }
    if (tray_) {
        const bool connected = model_->state().connected.has_value();
        if (connected != iconConnected_) {
            iconConnected_ = connected;
            tray_->setIcon(MenuBarIcon::icon(connected));
        }
        // Marked as rich text, so that a device name with markup in it reads as typed.
        tray_->setToolTip(
            QStringLiteral("<qt>Velm Host: %1</qt>")
                .arg(QString::fromStdString(MenuBarView::statusText(model_->state())).toHtmlEscaped()));
    }
    if (onChange_) {
        onChange_();
    }
}

} // namespace velm
