#pragma once

#include <QWidget>
#include <string_view>

class QHBoxLayout;
class QVBoxLayout;

namespace velm {

class PlainLabel;

// One section of a grouped form: a header line with the section's title (and room for a control at
// its end), then the rows on a rounded card, divided by hairlines, and an optional footer. A section
// without rows shows no card, so a collapsed section is its header alone.
class FormSection : public QWidget {
public:
    explicit FormSection(std::string_view title, QWidget* parent = nullptr);

    // Puts a control at the end of the header line; the section takes it.
    void addHeaderControl(QWidget* control);
    // Appends a row to the card; the section takes it.
    void addRow(QWidget* row);
    // Takes every row away (each is deleted once control returns to the event loop).
    void clearRows();
    // Hides or shows one of the rows, with its hairline; a card without a shown row is not shown.
    void setRowShown(QWidget* row, bool shown);
    // A caption under the card; none when empty.
    void setFooter(std::string_view text);

private:
    class Card;

    void showDividers();

    QHBoxLayout* header_;
    Card* card_;
    QVBoxLayout* rows_;
    PlainLabel* footer_;
    int rowCount_ = 0;
};

} // namespace velm
