#include "Velm_Host/input/TextFocusMonitor.h"

#include "Velm_Host/session/ScreenGeometry.h"
#include "platform/accessibility/Accessibility.h"
#include "platform/accessibility/AccessibleTree.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <cmath>
#include <utility>

namespace velm {
namespace {

const Log textFocusMonitorLog("textfocus");

bool isTextRole(const std::optional<std::string>& role) {
    return role == "AXTextField" || role == "AXTextArea" || role == "AXComboBox";
}

bool isSame(const std::optional<Rect>& a, const std::optional<Rect>& b) {
    if (!a || !b) {
        return !a && !b;
    }
    const auto near = [](double x, double y) { return std::fabs(x - y) < TextFocusMonitor::frameTolerance; };
    return near(a->minX(), b->minX()) && near(a->minY(), b->minY()) && near(a->width(), b->width()) &&
           near(a->height(), b->height());
}

} // namespace

// What one poll found, read on the accessibility thread.
struct TextFocusMonitor::Reading {
    bool hasElement = false;
    std::optional<std::string> role;
    bool isText = false;
    // Of a text element, when it gave a usable one.
    std::optional<Rect> frame;
    bool isOwnProcess = false;
};

std::shared_ptr<TextFocusMonitor> TextFocusMonitor::make(std::shared_ptr<Accessibility> accessibility,
                                                         std::shared_ptr<Queue> queue) {
    return std::shared_ptr<TextFocusMonitor>(
        new TextFocusMonitor(std::move(accessibility), std::move(queue)));
}

TextFocusMonitor::TextFocusMonitor(std::shared_ptr<Accessibility> accessibility, std::shared_ptr<Queue> queue)
    : accessibility_(std::move(accessibility)), queue_(std::move(queue)) {}

void TextFocusMonitor::setOnChange(std::function<void(bool)> handler) {
    queue_->post(whileAlive(shared_from_this(), [handler = std::move(handler)](TextFocusMonitor& self) {
        self.onChange_ = handler;
    }));
}

void TextFocusMonitor::setOnAreaChange(std::function<void(std::optional<Rect>)> handler) {
    queue_->post(whileAlive(shared_from_this(), [handler = std::move(handler)](TextFocusMonitor& self) {
        self.onAreaChange_ = handler;
    }));
}

void TextFocusMonitor::start() {
    queue_->post(whileAlive(shared_from_this(), [](TextFocusMonitor& self) {
        self.halt();
        self.isRunning_ = true;
        self.schedule(firstPoll, pollInterval);
    }));
}

void TextFocusMonitor::setQuiet(bool quiet) {
    queue_->post(whileAlive(shared_from_this(), [quiet](TextFocusMonitor& self) {
        if (!self.isRunning_) {
            return;
        }
        self.timer_.cancel();
        if (quiet) {
            self.schedule(quietPollInterval, quietPollInterval);
        } else {
            self.schedule(firstPollAwake, pollInterval);
        }
    }));
}

void TextFocusMonitor::stop() {
    queue_->post(whileAlive(shared_from_this(), &TextFocusMonitor::halt));
}

void TextFocusMonitor::halt() {
    isRunning_ = false;
    ++generation_;
    timer_.cancel();
    isReading_ = false;
    last_.reset();
    lastArea_.reset();
    hasAskedToWake_ = false;
}

void TextFocusMonitor::schedule(Duration first, Duration interval) {
    interval_ = interval;
    timer_ = queue_->postAfter(
        first, whileAlive(shared_from_this(),
                          [generation = generation_](TextFocusMonitor& self) { self.tick(generation); }));
}

void TextFocusMonitor::tick(std::uint64_t generation) {
    if (generation != generation_) {
        return;
    }
    schedule(interval_, interval_);
    // A reading still under way (a slow application) is waited for rather than doubled.
    if (isReading_) {
        return;
    }
    isReading_ = true;
    // Reports once: the reading, or nothing when the tree throws the visit away unrun (its thread is
    // stuck), so that the polls carry on rather than wait for good on a reading that never comes.
    struct Pending {
        std::function<void(std::optional<Reading>)> report;
        ~Pending() {
            if (report) {
                report(std::nullopt);
            }
        }
    };
    auto pending = std::make_shared<Pending>();
    pending->report = onQueueWhileAlive(queue_, shared_from_this(),
                                        [generation](TextFocusMonitor& self, std::optional<Reading> reading) {
                                            self.apply(generation, reading);
                                        });
    accessibility_->visit([pending](AccessibleTree& tree) {
        auto reading = read(tree);
        std::exchange(pending->report, nullptr)(std::move(reading));
    });
}

TextFocusMonitor::Reading TextFocusMonitor::read(AccessibleTree& tree) {
    Reading reading;
    const auto focused = tree.focusedElement();
    if (!focused) {
        return reading;
    }
    reading.hasElement = true;
    reading.role = tree.role(*focused);
    reading.isText = isTextRole(reading.role) || tree.isSelectedTextSettable(*focused);
    if (reading.isText) {
        if (const auto frame = tree.frame(*focused); frame && frame->width > 1 && frame->height > 1) {
            reading.frame = ScreenGeometry::toRect(*frame);
        }
    } else {
        reading.isOwnProcess = tree.belongsToThisProcess(*focused);
    }
    return reading;
}

void TextFocusMonitor::apply(std::uint64_t generation, const std::optional<Reading>& reading) {
    if (generation != generation_) {
        return;
    }
    isReading_ = false;
    if (!reading) {
        return;
    }
    if (!reading->isText) {
        wakeIfBare(*reading);
    }
    reportFocus(*reading);
    reportArea(*reading);
}

void TextFocusMonitor::reportFocus(const Reading& reading) {
    if (last_ == reading.isText) {
        return;
    }
    last_ = reading.isText;
    textFocusMonitorLog.info("text focus %d (role %s)", reading.isText ? 1 : 0,
                             reading.role.value_or("none").c_str());
    if (onChange_) {
        onChange_(reading.isText);
    }
}

void TextFocusMonitor::reportArea(const Reading& reading) {
    const std::optional<Rect> frame = reading.isText ? reading.frame : std::nullopt;
    if (isSame(frame, lastArea_)) {
        return;
    }
    if (frame && !lastArea_) {
        textFocusMonitorLog.info("text field at %.0f,%.0f, %.0fx%.0f pt", frame->minX(), frame->minY(),
                                 frame->width(), frame->height());
    } else if (!frame) {
        textFocusMonitorLog.info("text field %s", reading.isText ? "won't say where it is" : "gone");
    }
    lastArea_ = frame;
    if (onAreaChange_) {
        onAreaChange_(frame);
    }
}

// Some toolkits expose their elements only once the desktop's accessibility is switched on: a focus
// on a bare window, or on nothing at all, suggests one of those.
void TextFocusMonitor::wakeIfBare(const Reading& reading) {
    if (reading.hasElement && ((reading.role && *reading.role != "AXWindow") || reading.isOwnProcess)) {
        return;
    }
    if (hasAskedToWake_) {
        return;
    }
    hasAskedToWake_ = true;
    accessibility_->visit([](AccessibleTree& tree) {
        switch (tree.wakeAccessibility()) {
        case AccessibilityWake::alreadyOn:
            break;
        case AccessibilityWake::turnedOn:
            textFocusMonitorLog.info("asked the desktop to expose its text fields: ok");
            break;
        case AccessibilityWake::unavailable:
            textFocusMonitorLog.info("asked the desktop to expose its text fields: not supported");
            break;
        }
    });
}

} // namespace velm
