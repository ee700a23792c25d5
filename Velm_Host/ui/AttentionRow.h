#pragma once

#include "Velm_Host/ui/HostStatus.h"
#include "Velm_Host/ui/SettingsLinks.h"

#include <optional>
#include <string>
#include <vector>

namespace velm {

// One thing that keeps the host from working well, with the button that fixes it.
struct AttentionRow {
    // In the order the rows are listed.
    enum class Item {
        screenRecording,
        accessibility,
        localNetwork,
        openAtLogin,
        automaticLogin,
        powerFailure,
        notifications,
    };

    Item item = Item::screenRecording;
    std::string title;
    std::string detail;
    std::string actionTitle;

    // The rows whose condition holds, in order; none means the section is not shown at all. A
    // readiness setting that cannot be read here gives no row.
    static std::vector<AttentionRow> rowsFor(const HostStatus& status);

    // The settings pane that fixes the row. The permissions have none here: the X server grants
    // or refuses them, and no settings program can change that.
    std::optional<SettingsPane> settingsPane() const;
    // The row's fix is the host's own launch-at-login entry rather than a settings pane.
    bool turnsOnLaunchAtLogin() const { return item == Item::openAtLogin; }

    friend bool operator==(const AttentionRow&, const AttentionRow&) = default;
};

} // namespace velm
