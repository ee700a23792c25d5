#include "Velm_Host/ui/NeedsAttentionSection.h"

#include "Velm_Host/ui/PermissionRow.h"

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
    if (rows == rows_) {
        return;
    }
    rows_ = std::move(rows);
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
    if (!pane || !links_.canOpen()) {
        return {};
    }
    return [this, pane = *pane] { links_.open(pane); };
}

} // namespace velm
