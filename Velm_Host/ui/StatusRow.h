#pragma once

#include "Velm_Host/ui/StatusLine.h"

#include <QWidget>

namespace velm {

class PlainLabel;

// A round dot in the line's tint, then the line's text as given.
class StatusRow : public QWidget {
public:
    explicit StatusRow(QWidget* parent = nullptr);

    void setLine(const StatusLine& line);

private:
    class Dot;

    Dot* dot_;
    PlainLabel* text_;
};

} // namespace velm
