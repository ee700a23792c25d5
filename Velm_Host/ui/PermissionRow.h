#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QPushButton;

namespace velm {

// A setting the host needs: a green check when it is in order, else an orange "!" and, when there
// is a way to fix it from here, a button that does.
class PermissionRow : public QWidget {
public:
    // Without an action there is no button, even while the setting is not in order.
    PermissionRow(const std::string& title, const std::string& detail, bool granted,
                  const std::string& buttonTitle, std::function<void()> action, QWidget* parent = nullptr);

    // The fix's button; null when the row shows none.
    QPushButton* button() const { return button_; }

private:
    QPushButton* button_ = nullptr;
};

} // namespace velm
