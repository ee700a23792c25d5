#pragma once

#include "Velm_Host/session/TextFocusWatch.h"
#include "input/Geometry.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

class Accessibility;
class AccessibleTree;

// Follows the desktop's keyboard focus for the client's on-screen keyboard: whether the focus sits in
// something that takes text, and where that field lies. It polls the accessibility tree on its own
// queue and reports changes only.
//
// How a session drives it: make it with the session; before each stream start set both handlers
// (they are called on the monitor's queue: hop to the session's) and call start(); setQuiet(true)
// once no input came for 5 s and setQuiet(false) at the next input; stop() when the client pauses
// the stream and when the session ends.
class TextFocusMonitor final : public TextFocusWatch, public std::enable_shared_from_this<TextFocusMonitor> {
public:
    using Duration = Queue::Clock::duration;

    static constexpr Duration firstPoll = std::chrono::milliseconds(100);
    static constexpr Duration pollInterval = std::chrono::milliseconds(300);
    static constexpr Duration quietPollInterval = std::chrono::milliseconds(1500);
    // The first poll when the user comes back after a quiet spell.
    static constexpr Duration firstPollAwake = std::chrono::milliseconds(50);
    // Frames that differ by less than this (points) in position and size are the same frame.
    static constexpr double frameTolerance = 1.5;

    static std::shared_ptr<TextFocusMonitor>
    make(std::shared_ptr<Accessibility> accessibility,
         std::shared_ptr<Queue> queue = Queue::make("velm.host.textfocus"));

    // Whether the focus now takes text; the first poll after each start always tells.
    void setOnChange(std::function<void(bool takesText)> handler) override;
    // The focused text field's frame in root coordinates, or nothing when there is none or it won't
    // say where it is; told when it appears, goes or moves.
    void setOnAreaChange(std::function<void(std::optional<Rect> frame)> handler) override;

    // (Re)starts polling at the normal rate, with everything remembered forgotten.
    void start() override;
    // Polls less often while the user is away; no effect while stopped.
    void setQuiet(bool quiet) override;
    // Stops polling and forgets everything; nothing is reported afterwards, not even a poll that
    // was under way.
    void stop() override;

private:
    struct Reading;

    TextFocusMonitor(std::shared_ptr<Accessibility> accessibility, std::shared_ptr<Queue> queue);

    static Reading read(AccessibleTree& tree);

    void halt();
    void schedule(Duration first, Duration interval);
    void tick(std::uint64_t generation);
    // Nothing when the tree dropped the visit.
    void apply(std::uint64_t generation, const std::optional<Reading>& reading);
    void reportFocus(const Reading& reading);
    void reportArea(const Reading& reading);
    void wakeIfBare(const Reading& reading);

    const std::shared_ptr<Accessibility> accessibility_;
    const std::shared_ptr<Queue> queue_;

    // Touched on queue_ only.
    std::function<void(bool)> onChange_;
    std::function<void(std::optional<Rect>)> onAreaChange_;
    bool isRunning_ = false;
    // Counts starts and stops; timers and readings of another generation do nothing.
    std::uint64_t generation_ = 0;
    WorkItem timer_;
    Duration interval_ = pollInterval;
    bool isReading_ = false;
    std::optional<bool> last_;
    std::optional<Rect> lastArea_;
    // The desktop is asked to switch accessibility on at most once per start.
    bool hasAskedToWake_ = false;
};

} // namespace velm
