#pragma once

#include "Velm_Host/HostModel.h"
#include "Velm_Host/ui/HostView.h"
#include "Velm_Host/ui/SystemTray.h"

#include <functional>
#include <memory>

class QSystemTrayIcon;

namespace velm {

class HostWindow;
class MenuBarView;

// The application: the host model, the main window and the tray icon with its menu. With a tray the
// host lives in it and the window opens on demand (closing it only hides it); without a tray the window
// stands in for it, shown at start, and closing it quits. A tray that appears later (a panel started
// after the host, as at login) takes the host in, and the window it stood in for goes; a tray that goes
// away brings the window back. Every way out (the menu, the window, a signal, the
// end of the desktop session) goes through the model's orderly quit, which says goodbye to a connected
// device and lets the curtain lock and come down before the process may end.
//
// Lives on the main queue, which runs on the Qt event loop's thread.
class VelmHostApp : public std::enable_shared_from_this<VelmHostApp> {
public:
    struct Options {
        HostView::Options view;
        // Null: there is never a tray.
        std::shared_ptr<SystemTray> tray;
    };

    // The model is not started yet.
    static std::shared_ptr<VelmHostApp> make(std::shared_ptr<HostModel> model, Options options);
    ~VelmHostApp();

    VelmHostApp(const VelmHostApp&) = delete;
    VelmHostApp& operator=(const VelmHostApp&) = delete;

    // After every change of the model's state, once the views show it.
    void setOnChange(std::function<void()> handler);
    // The orderly quit is over; the process may end now.
    void setOnFinished(std::function<void()> handler);

    // Starts the model and shows the host in the tray, or in the window without one. With `pair`, opens
    // pairing (unless a window is open already) and the main window that shows its code. Call once.
    void start(bool pair);
    void openMainWindow();
    // The model's orderly quit, then onFinished; later calls wait for the first.
    void quit();
    bool hasFinished() const { return finished_; }

    const std::shared_ptr<HostModel>& model() const { return model_; }
    HostWindow* window() const { return window_.get(); }
    MenuBarView* menu() const { return menu_.get(); }
    // Null without a tray.
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }

private:
    VelmHostApp(std::shared_ptr<HostModel> model, Options options);

    void makeTrayIcon();
    void trayChanged();
    void showStandIn();
    void windowClosed();
    void modelChanged();
    void finish();

    const std::shared_ptr<HostModel> model_;
    Options options_;
    std::function<void()> onChange_;
    std::function<void()> onFinished_;
    std::unique_ptr<HostWindow> window_;
    std::unique_ptr<MenuBarView> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    bool started_ = false;
    // The window is shown only because there is no tray; asking for it makes it the user's.
    bool standsIn_ = false;
    bool quitting_ = false;
    bool finished_ = false;
    // What the tray icon shows, so it is drawn again only when that changes.
    bool iconConnected_ = false;
};

} // namespace velm
