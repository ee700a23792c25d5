#pragma once

#include "Velm_Host/core/ConnectionHistory.h"
#include "Velm_Host/ui/HistoryDates.h"
#include "protocol/ConnectionLog.h"

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace velm {

// The whole history in a sheet of its own: every record, or one device's, and a button that clears
// the history once the user confirms. Each sheet starts with all devices and no question open.
class HistorySheet : public QDialog {
public:
    struct DeviceChoice {
        std::string deviceID;
        std::string deviceName;

        friend bool operator==(const DeviceChoice&, const DeviceChoice&) = default;
    };

    HistorySheet(std::shared_ptr<ConnectionHistory> history, std::shared_ptr<const HistoryDates> dates,
                 QWidget* parent = nullptr);

    // Shows the history as it is now; the chosen device stays chosen.
    void refresh();
    // Removes every record that has ended (one still running stays, so its end is still recorded)
    // and saves; the chosen device stays chosen.
    void clearHistory();

    // Each device once, in the order of its newest record, under the name of that record.
    static std::vector<DeviceChoice> deviceChoices(const ConnectionLog& log);
    // The device's records (every record without a device), newest first.
    static std::vector<ConnectionRecord> filteredRecords(const ConnectionLog& log,
                                                         const std::optional<std::string>& deviceID);

    const std::optional<std::string>& chosenDevice() const { return deviceID_; }

private:
    QWidget* topBar();
    QWidget* bottomBar();
    QWidget* recordList();
    void fillDeviceChoices(const ConnectionLog& log);
    void fillRecords(const ConnectionLog& log);
    void chooseDeviceAt(int index);
    void confirmClear();

    const std::shared_ptr<ConnectionHistory> history_;
    const std::shared_ptr<const HistoryDates> dates_;
    std::optional<std::string> deviceID_{};
    std::string deviceName_{}; // of the chosen device, for when its records are gone
    QComboBox* devices_ = nullptr;
    QPushButton* clear_ = nullptr;
    QVBoxLayout* records_ = nullptr;
    QMessageBox* confirmation_ = nullptr;
};

} // namespace velm
