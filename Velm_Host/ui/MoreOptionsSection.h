#pragma once

#include "Velm_Host/model/LocalAddresses.h"
#include "Velm_Host/ui/FormSection.h"

#include <functional>
#include <optional>
#include <vector>

class QGridLayout;
class QPushButton;

namespace velm {

class ToggleRow;

// "More Options", collapsed until the user asks: opening at login (only while it is on: turning it
// on is the needs-attention row's job), going without a device-bound away key (only while away access
// is on), and the addresses a device can be given by hand.
class MoreOptionsSection : public FormSection {
public:
    struct Settings {
        bool opensAtLogin = false;
        bool allowAwayAccess = false;
        bool allowsAwayWithoutDeviceKey = false;
        std::vector<LocalAddress> addresses{};

        friend bool operator==(const Settings&, const Settings&) = default;
    };

    explicit MoreOptionsSection(QWidget* parent = nullptr);

    void setOnOpenAtLogin(std::function<void(bool on)> handler);
    void setOnAllowWithoutDeviceKey(std::function<void(bool allow)> handler);
    // "Show" or "Hide" was pressed; the owner reads the addresses afresh and shows them.
    void setOnExpand(std::function<void()> handler);

    bool isExpanded() const { return expanded_; }
    void showSettings(const Settings& settings);

    QPushButton* expandButton() const { return expand_; }
    ToggleRow* openAtLogin() const { return openAtLogin_; }
    ToggleRow* withoutDeviceKey() const { return withoutDeviceKey_; }
    QWidget* addresses() const { return addresses_; }

private:
    void fillAddresses(const std::vector<LocalAddress>& addresses);

    QPushButton* expand_;
    ToggleRow* openAtLogin_;
    ToggleRow* withoutDeviceKey_;
    QWidget* addresses_;
    QGridLayout* addressGrid_;
    std::function<void()> onExpand_;
    bool expanded_ = false;
    std::optional<std::vector<LocalAddress>> shownAddresses_;
};

} // namespace velm
