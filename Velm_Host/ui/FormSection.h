#pragma once

#include <QWidget>
#include <string_view>

class QHBoxLayout;
class QVBoxLayout;

namespace velm {

class PlainLabel;

// One section of a grouped form: a header line with the section's title (and room for a control at
// its end), then the rows on a rounded card, divided by hairlines.
class FormSection : public QWidget {
public:
    explicit FormSection(std::string_view title, QWidget* parent = nullptr);

    // Puts a control at the end of the header line; the section takes it.
    void addHeaderControl(QWidget* control);
    // Appends a row to the card; the section takes it.
    void addRow(QWidget* row);
    // Takes every row away (each is deleted once control returns to the event loop).
    void clearRows();

private:
    class Card;

    QHBoxLayout* header_;
    Card* card_;
    QVBoxLayout* rows_;
    int rowCount_ = 0;
};

} // namespace velm
