#pragma once

#include "Velm_Host/ui/HistoryDates.h"
#include "protocol/ConnectionRecord.h"

#include <QWidget>

namespace velm {

class PlainLabel;

// One history record: its symbol, a title and a caption of facts that can be selected and copied.
class HistoryRow : public QWidget {
public:
    HistoryRow(const ConnectionRecord& record, const HistoryDates& dates, QWidget* parent = nullptr);

    PlainLabel* title() const { return title_; }
    PlainLabel* caption() const { return caption_; }

private:
    PlainLabel* title_;
    PlainLabel* caption_;
};

} // namespace velm
