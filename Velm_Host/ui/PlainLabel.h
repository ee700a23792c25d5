#pragma once

#include <QLabel>
#include <QString>
#include <string_view>

namespace velm {

// A label that shows its text exactly as given: never rich text, so a device named "<img src=…>"
// reads as typed, and every text from a device, a file or the network goes through one of these.
class PlainLabel : public QLabel {
public:
    explicit PlainLabel(std::string_view text = {}, QWidget* parent = nullptr);

    void setText(std::string_view text);
    // Smaller and in the secondary colour, for the facts under a title.
    void makeCaption();
    // One line, cut with "…" where it does not fit (a name of 256 letters and no space would
    // otherwise push the form wider); the whole text is then the tool tip.
    void setElided(bool elided);

    // The whole text, also while the label shows it cut.
    const QString& fullText() const { return fullText_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showText();

    QString fullText_;
    bool elided_ = false;
};

// A button or menu title with every "&" doubled, so that a name never turns into a keyboard shortcut.
QString actionTitle(std::string_view title);

} // namespace velm
