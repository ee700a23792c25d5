#pragma once

#include "Velm_Host/ui/FormSection.h"

#include <array>
#include <functional>

class QComboBox;

namespace velm {

class ToggleRow;

// "Away from Home": whether paired devices reach this computer from outside the home network, and
// for how long after their last visit at home. The switch waits for remote access; the duration
// shows only while both are on.
class AwaySection : public FormSection {
public:
    // The choices of "Access lasts", in their order; 0 is "Always".
    static constexpr std::array<int, 4> dayChoices{1, 7, 30, 0};

    explicit AwaySection(QWidget* parent = nullptr);

    void setOnAllowAway(std::function<void(bool allow)> handler);
    void setOnAccessDays(std::function<void(int days)> handler);

    void showSettings(bool allowRemoteAccess, bool allowAwayAccess, int awayAccessDays);

    ToggleRow* reachable() const { return reachable_; }
    QComboBox* accessDays() const { return accessDays_; }

    static QString daysTitle(int days);

private:
    ToggleRow* reachable_;
    QWidget* lasts_;
    QComboBox* accessDays_;
    std::function<void(int)> onAccessDays_;
};

} // namespace velm
