#pragma once

#include "Velm_Host/ui/AttentionRow.h"
#include "Velm_Host/ui/FormSection.h"
#include "Velm_Host/ui/HostStatus.h"
#include "Velm_Host/ui/SettingsLinks.h"

#include <functional>
#include <vector>

namespace velm {

// The "Needs Attention" section: a row for each thing that keeps the host from working well, in a
// fixed order. It is shown only while there is such a thing. Rows leave when the model publishes
// the fixed state, never by themselves.
class NeedsAttentionSection : public FormSection {
public:
    explicit NeedsAttentionSection(SettingsLinks links, QWidget* parent = nullptr);

    // The "Turn On" of "Open at login" was pressed.
    void setOnTurnOnLaunchAtLogin(std::function<void()> handler);

    void setStatus(const HostStatus& status);
    const std::vector<AttentionRow>& rows() const { return rows_; }

private:
    std::function<void()> fixFor(const AttentionRow& row);

    const SettingsLinks links_;
    std::function<void()> onTurnOnLaunchAtLogin_;
    std::vector<AttentionRow> rows_;
    // Whether the rows shown offer to open the settings program.
    bool canOpenSettings_ = false;
};

} // namespace velm
