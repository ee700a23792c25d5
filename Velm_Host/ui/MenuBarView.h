#pragma once

#include "Velm_Host/model/HostModel.h"

#include <QMenu>
#include <functional>
#include <memory>
#include <string>

class QAction;

namespace velm {

// The tray icon's menu: who is connected (with "Disconnect"), or whether the host waits for a device;
// the remote-access switch; the way to the main window; and quitting. Disconnect and the switch go to
// the model; opening the window and quitting are the application's, which it hears through the setters.
// Its owner calls refresh after every change of the model's state.
class MenuBarView : public QMenu {
public:
    explicit MenuBarView(std::shared_ptr<HostModel> model, QWidget* parent = nullptr);

    void setOnOpenWindow(std::function<void()> handler);
    void setOnQuit(std::function<void()> handler);

    void refresh();

    // The first line of the menu for the state.
    static std::string statusText(const HostModel::State& state);

    QAction* status() const { return status_; }
    QAction* disconnectAction() const { return disconnect_; }
    QAction* remoteAccess() const { return remoteAccess_; }
    QAction* openWindow() const { return openWindow_; }
    QAction* quitAction() const { return quit_; }

private:
    void disconnectSession();

    const std::shared_ptr<HostModel> model_;
    std::function<void()> onOpenWindow_;
    std::function<void()> onQuit_;
    QAction* status_;
    QAction* disconnect_;
    QAction* remoteAccess_;
    QAction* openWindow_;
    QAction* quit_;
};

} // namespace velm
