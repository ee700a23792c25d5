#pragma once

#include <QPushButton>
#include <string_view>

namespace velm {

// A small button that reads as a link: its title alone, in the palette's link colour, with no
// button drawn around it. It takes the keyboard focus and answers the space bar as any button does.
class LinkButton : public QPushButton {
public:
    explicit LinkButton(std::string_view title, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace velm
