#include "Velm_Host/ui/HistorySheet.h"

#include "Velm_Host/ui/HistoryRow.h"
#include "Velm_Host/ui/InlineName.h"
#include "Velm_Host/ui/PlainLabel.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace velm {
namespace {

constexpr int barPadding = 12;

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

HistorySheet::HistorySheet(std::shared_ptr<ConnectionHistory> history,
                           std::shared_ptr<const HistoryDates> dates, QWidget* parent)
    : QDialog(parent), history_(std::move(history)), dates_(std::move(dates)) {
    setWindowTitle(QStringLiteral("History"));
    setFixedSize(560, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(topBar());
    layout->addWidget(divider(this));
    layout->addWidget(recordList(), 1);
    layout->addWidget(divider(this));
    layout->addWidget(bottomBar());
    refresh();
}

void HistorySheet::refresh() {
    const ConnectionLog log = history_->log();
    fillDeviceChoices(log);
    fillRecords(log);
    clear_->setEnabled(!log.records.empty());
}

void HistorySheet::clearHistory() {
    history_->clear();
    refresh();
}

std::vector<HistorySheet::DeviceChoice> HistorySheet::deviceChoices(const ConnectionLog& log) {
    std::vector<DeviceChoice> choices;
    for (const ConnectionRecord& record : log.records) {
        const bool seen = std::any_of(choices.begin(), choices.end(), [&](const DeviceChoice& choice) {
            return choice.deviceID == record.deviceID;
        });
        if (!seen) {
            choices.push_back({record.deviceID, record.deviceName});
        }
    }
    return choices;
}

std::vector<ConnectionRecord> HistorySheet::filteredRecords(const ConnectionLog& log,
                                                            const std::optional<std::string>& deviceID) {
    if (!deviceID) {
        return log.records;
    }
    std::vector<ConnectionRecord> records;
    std::copy_if(log.records.begin(), log.records.end(), std::back_inserter(records),
                 [&](const ConnectionRecord& record) { return record.deviceID == *deviceID; });
    return records;
}

QWidget* HistorySheet::topBar() {
    auto* bar = new QWidget(this);
    devices_ = new QComboBox(bar);
    devices_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    devices_->setMaximumWidth(360);
    QObject::connect(devices_, &QComboBox::currentIndexChanged, this,
                     [this](int index) { chooseDeviceAt(index); });
    clear_ = new QPushButton(actionTitle("Clear History…"), bar);
    clear_->setAutoDefault(false);
    QObject::connect(clear_, &QPushButton::clicked, this, [this] { confirmClear(); });

    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(barPadding, barPadding, barPadding, barPadding);
    layout->addWidget(new PlainLabel("Device", bar));
    layout->addWidget(devices_);
    layout->addStretch(1);
    layout->addWidget(clear_);
    return bar;
}

QWidget* HistorySheet::bottomBar() {
    auto* bar = new QWidget(this);
    auto* kept = new PlainLabel("Kept for 90 days.", bar);
    kept->makeCaption();
    auto* done = new QPushButton(actionTitle("Done"), bar);
    done->setDefault(true);
    QObject::connect(done, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(barPadding, barPadding, barPadding, barPadding);
    layout->addWidget(kept);
    layout->addStretch(1);
    layout->addWidget(done);
    return bar;
}

QWidget* HistorySheet::recordList() {
    auto* list = new QWidget;
    records_ = new QVBoxLayout(list);
    records_->setContentsMargins(barPadding, barPadding, barPadding, barPadding);
    records_->setSpacing(10);
    records_->addStretch(1);

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(list);
    return scroll;
}

void HistorySheet::fillDeviceChoices(const ConnectionLog& log) {
    std::vector<DeviceChoice> choices = deviceChoices(log);
    if (deviceID_) {
        const auto chosen = std::find_if(choices.begin(), choices.end(), [&](const DeviceChoice& choice) {
            return choice.deviceID == *deviceID_;
        });
        if (chosen == choices.end()) {
            // Its records are gone (cleared or pruned): it stays chosen, with nothing to list.
            choices.push_back({*deviceID_, deviceName_});
        } else {
            deviceName_ = chosen->deviceName;
        }
    }
    const QSignalBlocker quiet(devices_);
    devices_->clear();
    devices_->addItem(QStringLiteral("All Devices"));
    for (const DeviceChoice& choice : choices) {
        devices_->addItem(fromUtf8(inlineName(choice.deviceName)), fromUtf8(choice.deviceID));
        if (deviceID_ == choice.deviceID) {
            devices_->setCurrentIndex(devices_->count() - 1);
        }
    }
}

void HistorySheet::fillRecords(const ConnectionLog& log) {
    // Everything but the closing stretch.
    while (records_->count() > 1) {
        QLayoutItem* item = records_->takeAt(0);
        delete item->widget();
        delete item;
    }
    int at = 0;
    for (const ConnectionRecord& record : filteredRecords(log, deviceID_)) {
        records_->insertWidget(at++, new HistoryRow(record, *dates_));
    }
}

void HistorySheet::chooseDeviceAt(int index) {
    const QVariant id = devices_->itemData(index);
    if (id.isValid()) {
        deviceID_ = id.toString().toStdString();
        deviceName_ = devices_->itemText(index).toStdString();
    } else {
        deviceID_.reset();
    }
    fillRecords(history_->log());
}

void HistorySheet::confirmClear() {
    if (!confirmation_) {
        confirmation_ = new QMessageBox(this);
        confirmation_->setTextFormat(Qt::PlainText);
        confirmation_->setText(QStringLiteral("Clear the history?"));
        confirmation_->setInformativeText(
            QStringLiteral("Every record of past sessions, files and turned-away tries is deleted."));
        QPushButton* clear =
            confirmation_->addButton(actionTitle("Clear History"), QMessageBox::DestructiveRole);
        confirmation_->addButton(QMessageBox::Cancel);
        confirmation_->setDefaultButton(QMessageBox::Cancel);
        QObject::connect(clear, &QPushButton::clicked, this, [this] { clearHistory(); });
    }
    confirmation_->open();
}

} // namespace velm
