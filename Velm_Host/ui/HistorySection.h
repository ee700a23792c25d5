#pragma once

#include "Velm_Host/core/ConnectionHistory.h"
#include "Velm_Host/ui/FormSection.h"
#include "Velm_Host/ui/HistoryDates.h"

#include <QPointer>
#include <QTimer>
#include <memory>

class QPushButton;

namespace velm {

class HistorySheet;

// The last section of the main window: the three newest history records, and "Show All…" for the
// whole history in a sheet. Its owner calls refresh when the history changes (ConnectionHistory
// reports that on the main queue); an open sheet follows. When the day changes the rows are written
// again by themselves, so that today's records then read as yesterday's.
class HistorySection : public FormSection {
public:
    static constexpr int shownRecords = 3;

    HistorySection(std::shared_ptr<ConnectionHistory> history, std::shared_ptr<const HistoryDates> dates,
                   QWidget* parent = nullptr);

    void refresh();
    // Refreshes once the changes already waiting on the GUI thread have come in: a burst of records
    // (a device turned away as fast as it retries) rebuilds the open sheet's rows once, rather than
    // once for each record, which would fall behind them.
    void refreshSoon();
    // Opens the sheet of the whole history, or brings the open one forward.
    void showAll();

    QPushButton* showAllButton() const { return showAll_; }
    HistorySheet* sheet() const { return sheet_; }

private:
    void refreshTomorrow();

    const std::shared_ptr<ConnectionHistory> history_;
    const std::shared_ptr<const HistoryDates> dates_;
    QPushButton* showAll_;
    QPointer<HistorySheet> sheet_;
    QTimer tomorrow_;
    bool refreshPending_ = false;
};

} // namespace velm
