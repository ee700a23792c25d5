#pragma once

#include <QWidget>
#include <functional>
#include <string_view>

class QCheckBox;

namespace velm {

class PlainLabel;

// A setting that is on or off: its title (and a line under it that says what it does) and the switch.
// Only the user's flips are reported; the owner shows the state it reads back from the model.
class ToggleRow : public QWidget {
public:
    explicit ToggleRow(std::string_view title, std::string_view subtitle = {}, QWidget* parent = nullptr);

    void setOnToggle(std::function<void(bool on)> handler);
    // Shows the state without reporting it.
    void setOn(bool on);
    bool isOn() const;

    QCheckBox* toggle() const { return toggle_; }

private:
    QCheckBox* toggle_;
    std::function<void(bool)> onToggle_;
};

} // namespace velm
