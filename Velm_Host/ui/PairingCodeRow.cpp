#include "Velm_Host/ui/PairingCodeRow.h"

#include "Velm_Host/ui/PlainLabel.h"
#include "transport/channel/VelmService.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace velm {
namespace {

constexpr int codePoints = 34;
// A countdown longer than this is shown as this; no window opened here lasts anywhere near it.
constexpr double longestCountdown = 99.0 * 3600;

} // namespace

PairingCodeRow::PairingCodeRow(std::shared_ptr<Queue> queue, std::function<Date()> clock, QWidget* parent)
    : QWidget(parent), queue_(std::move(queue)), clock_(std::move(clock)), code_(new PlainLabel({}, this)),
      caption_(new PlainLabel({}, this)), cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
    QFont large = code_->font();
    large.setPointSize(codePoints);
    large.setWeight(QFont::DemiBold);
    large.setStyleHint(QFont::Monospace);
    large.setFamily(QStringLiteral("DejaVu Sans Mono"));
    code_->setFont(large);
    code_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    caption_->makeCaption();
    caption_->setWordWrap(true);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(code_);
    texts->addWidget(caption_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(texts, 1);
    layout->addWidget(cancel_, 0, Qt::AlignTop);
    QObject::connect(cancel_, &QPushButton::clicked, this, [this] {
        if (onCancel_) {
            onCancel_();
        }
    });
    hide();
}

PairingCodeRow::~PairingCodeRow() {
    tick_.cancel();
}

void PairingCodeRow::setOnCancel(std::function<void()> handler) {
    onCancel_ = std::move(handler);
}

void PairingCodeRow::setWindow(const std::optional<PairingWindow>& window) {
    if (window == window_) {
        return;
    }
    const bool sameEnd = window && window_ && window->expires == window_->expires;
    window_ = window;
    if (!window_) {
        stopCounting();
        hide();
        return;
    }
    code_->setText(VelmService::displayCode(window_->code));
    showCaption();
    if (!window_->expires) {
        stopCounting();
    } else if (!sameEnd || !counting_) {
        stopCounting();
        counting_ = true;
        scheduleTick();
    }
    show();
}

std::string PairingCodeRow::captionText(const PairingWindow& window, Date now) {
    if (!window.expires) {
        return "Carried over from an earlier version; gone once used.";
    }
    return "Enter it in Velm on the device within " +
           countdownText(window.expires->secondsSinceReferenceDate() - now.secondsSinceReferenceDate()) + ".";
}

std::string PairingCodeRow::countdownText(double secondsLeft) {
    const double bounded = std::isfinite(secondsLeft) ? std::clamp(secondsLeft, 0.0, longestCountdown) : 0.0;
    const auto whole = static_cast<long>(std::ceil(bounded));
    const long hours = whole / 3600;
    const long minutes = whole / 60 % 60;
    const long seconds = whole % 60;
    char text[32];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", hours, minutes, seconds);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", minutes, seconds);
    }
    return text;
}

void PairingCodeRow::showCaption() {
    caption_->setText(captionText(*window_, clock_()));
}

// Wakes when the shown whole second changes, so the text never lags the clock by a second.
void PairingCodeRow::scheduleTick() {
    const double left = window_->expires->secondsSinceReferenceDate() - clock_().secondsSinceReferenceDate();
    if (!std::isfinite(left) || left <= 0) {
        counting_ = false;
        return;
    }
    const double bounded = std::min(left, longestCountdown);
    double untilChange = bounded - std::floor(bounded);
    if (untilChange <= 0) {
        untilChange = 1;
    }
    tick_ = queue_->postAfter(
        std::chrono::duration_cast<Queue::Clock::duration>(std::chrono::duration<double>(untilChange)),
        [this] {
            showCaption();
            scheduleTick();
        });
}

void PairingCodeRow::stopCounting() {
    tick_.cancel();
    counting_ = false;
}

} // namespace velm
