#pragma once

#include "Velm_Host/core/PairedDevice.h"
#include "Velm_Host/ui/DeviceCardLines.h"

#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPushButton;
class QVBoxLayout;

namespace velm {

class DevicePortrait;

// One paired device's card: its picture, name, live or last-seen line, model, away standing and
// policy, and the buttons Disconnect (on the live device's card only), Policy and Remove.
class DeviceCard : public QWidget {
public:
    // What the buttons ask for; the cards pass them on with the device.
    struct Actions {
        std::function<void()> disconnect;
        std::function<void(std::optional<double> idleTimeout, bool curtain)> setPolicy;
        std::function<void()> remove;
    };

    explicit DeviceCard(Actions actions, QWidget* parent = nullptr);

    // Shows the device's lines; the curtain can be chosen only where it would cover a screen.
    void present(const PairedDevice& device, const DeviceCardLines& lines, bool curtainCovers);
    // Takes the portrait over, replacing the one before.
    void setPortrait(DevicePortrait* portrait);
    DevicePortrait* portrait() const { return portrait_; }
    QPushButton* policyButton() const { return policyButton_; }
    QMenu* policyMenu() const { return policyMenu_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fillPolicyMenu(const PairedDevice& device, bool curtainCovers);
    void checkPolicyInForce();
    void showName();

    const Actions actions_;
    QVBoxLayout* layout_;
    DevicePortrait* portrait_ = nullptr;
    QLabel* name_;
    QLabel* dot_;
    QLabel* status_;
    QLabel* model_;
    QLabel* away_;
    QLabel* policy_;
    QPushButton* disconnect_;
    QPushButton* policyButton_;
    QMenu* policyMenu_;
    QActionGroup* idleChoices_;
    std::vector<QAction*> idleActions_;
    QAction* curtainAction_ = nullptr;
    QString fullName_;
    // What the policy menu shows, so that it is rebuilt only when that changes (never under an
    // open menu as time passes).
    struct MenuFor {
        std::optional<double> idleTimeout;
        bool curtain = false;
        bool curtainCovers = false;

        friend bool operator==(const MenuFor&, const MenuFor&) = default;
    };
    std::optional<MenuFor> menuFor_;
};

} // namespace velm
