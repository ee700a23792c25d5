#include "Velm_Host/ui/NeedsAttentionSection.h"

#include "Velm_Host/ui/PermissionRow.h"

#include <algorithm>
#include <utility>

namespace velm {

NeedsAttentionSection::NeedsAttentionSection(SettingsLinks links, QWidget* parent)
    : FormSection("Needs Attention", parent), links_(std::move(links)) {
    setVisible(false);
}

void NeedsAttentionSection::setOnTurnOnLaunchAtLogin(std::function<void()> handler) {
    onTurnOnLaunchAtLogin_ = std::move(handler);
}

void NeedsAttentionSection::setStatus(const HostStatus& status) {
    std::vector<AttentionRow> rows = AttentionRow::rowsFor(status);
    // The settings program is looked for again whenever a row would offer it: one installed or removed
    // since brings its buttons or takes them away.
    const bool offersSettings = std::any_of(
        rows.begin(), rows.end(), [](const AttentionRow& row) { return row.settingsPane().has_value(); });
    const bool canOpenSettings = offersSettings && links_.canOpen();
    if (rows == rows_ && canOpenSettings == canOpenSettings_) {
        return;
    }
    rows_ = std::move(rows);
    canOpenSettings_ = canOpenSettings;
    clearRows();
    for (const AttentionRow& row : rows_) {
        addRow(new PermissionRow(row.title, row.detail, /*granted=*/false, row.actionTitle, fixFor(row)));
    }
    setVisible(!rows_.empty());
}

std::function<void()> NeedsAttentionSection::fixFor(const AttentionRow& row) {
    if (row.turnsOnLaunchAtLogin()) {
        return [this] {
            if (onTurnOnLaunchAtLogin_) {
                onTurnOnLaunchAtLogin_();
            }
        };
    }
    const auto pane = row.settingsPane();
    if (!pane || !canOpenSettings_) {
        return {};
    }
    return [this, pane = *pane] { links_.open(pane); };
}

} // namespace velm
