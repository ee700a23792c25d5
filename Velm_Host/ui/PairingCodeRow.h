#pragma once

#include "Velm_Host/core/PairingWindow.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QPushButton;

namespace velm {

class PlainLabel;

// The open pairing window's code, large, with how long it stays valid counting down, and "Cancel".
// The countdown runs on the given queue's timers and reads the given clock (the model's), so it
// agrees with the model closing the window; it runs only while a window with an end is shown.
class PairingCodeRow : public QWidget {
public:
    PairingCodeRow(std::shared_ptr<Queue> queue, std::function<Date()> clock, QWidget* parent = nullptr);
    ~PairingCodeRow() override;

    PairingCodeRow(const PairingCodeRow&) = delete;
    PairingCodeRow& operator=(const PairingCodeRow&) = delete;

    void setOnCancel(std::function<void()> handler);
    // Shows the window, or hides the row and stops counting when there is none.
    void setWindow(const std::optional<PairingWindow>& window);

    bool isCountingDown() const { return counting_; }
    const PlainLabel* code() const { return code_; }
    const PlainLabel* caption() const { return caption_; }
    QPushButton* cancelButton() const { return cancel_; }

    // The line under the code at `now`.
    static std::string captionText(const PairingWindow& window, Date now);
    // What is left, as a timer shows it: "1:59", "0:05", "1:00:00"; whole seconds rounded up, never
    // below zero.
    static std::string countdownText(double secondsLeft);

private:
    void showCaption();
    void scheduleTick();
    void stopCounting();

    const std::shared_ptr<Queue> queue_;
    const std::function<Date()> clock_;
    std::function<void()> onCancel_;
    std::optional<PairingWindow> window_;
    PlainLabel* code_;
    PlainLabel* caption_;
    QPushButton* cancel_;
    WorkItem tick_;
    bool counting_ = false;
};

} // namespace velm
