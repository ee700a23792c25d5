#include "Velm_Host/ui/HistorySection.h"

#include "Velm_Host/ui/HistoryRow.h"
#include "Velm_Host/ui/HistorySheet.h"
#include "Velm_Host/ui/LinkButton.h"
#include "Velm_Host/ui/PlainLabel.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace velm {
namespace {

// A timer does not run while the computer sleeps, so the day's end is looked at again at least this often.
constexpr double longestWait = 3600;

} // namespace

HistorySection::HistorySection(std::shared_ptr<ConnectionHistory> history,
                               std::shared_ptr<const HistoryDates> dates, QWidget* parent)
    : FormSection("History", parent), history_(std::move(history)), dates_(std::move(dates)),
      showAll_(new LinkButton("Show All…", this)) {
    addHeaderControl(showAll_);
    QObject::connect(showAll_, &QPushButton::clicked, this, [this] { showAll(); });
    tomorrow_.setSingleShot(true);
    tomorrow_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tomorrow_, &QTimer::timeout, this, [this] { refresh(); });
    refresh();
}

void HistorySection::refresh() {
    const ConnectionLog log = history_->log();
    showAll_->setVisible(!log.records.empty());
    clearRows();
    if (log.records.empty()) {
        auto* nothing = new PlainLabel("Nothing yet. Each session, file and turned-away try is listed here.");
        nothing->makeCaption();
        nothing->setWordWrap(true);
        addRow(nothing);
    }
    const std::size_t shown = std::min(log.records.size(), static_cast<std::size_t>(shownRecords));
    for (std::size_t i = 0; i < shown; ++i) {
        addRow(new HistoryRow(log.records[i], *dates_));
    }
    if (sheet_) {
        sheet_->refresh();
    }
    refreshTomorrow();
}

// Queued behind the changes posted before it; dropped with the section.
void HistorySection::refreshSoon() {
    if (std::exchange(refreshPending_, true)) {
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshPending_ = false;
            refresh();
        },
        Qt::QueuedConnection);
}

void HistorySection::refreshTomorrow() {
    const double wait = std::min(dates_->secondsUntilTomorrow().value_or(longestWait), longestWait);
    tomorrow_.start(std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(wait * 1000))));
}

void HistorySection::showAll() {
    if (!sheet_) {
        sheet_ = new HistorySheet(history_, dates_, this);
        sheet_->setAttribute(Qt::WA_DeleteOnClose);
    }
    sheet_->open();
    sheet_->raise();
}

} // namespace velm
