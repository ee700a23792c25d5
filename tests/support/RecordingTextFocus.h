#pragma once

#include "Velm_Host/session/TextFocusWatch.h"

#include <string>
#include <utility>
#include <vector>

namespace velm::test {

// A watch on the keyboard focus that writes down what the session asked of it ("start", "quiet",
// "awake", "stop") and reports what the test says, through the handlers of the latest start.
class RecordingTextFocus final : public TextFocusWatch {
public:
    void setOnChange(std::function<void(bool)> handler) override { onChange_ = std::move(handler); }
    void setOnAreaChange(std::function<void(std::optional<Rect>)> handler) override {
        onAreaChange_ = std::move(handler);
    }
    void start() override { calls.push_back("start"); }
    void setQuiet(bool quiet) override { calls.push_back(quiet ? "quiet" : "awake"); }
    void stop() override { calls.push_back("stop"); }

    void report(bool takesText) const { onChange_(takesText); }
    void reportArea(std::optional<Rect> frame) const { onAreaChange_(frame); }
    // What was asked since the last look.
    std::vector<std::string> take() { return std::exchange(calls, {}); }

    std::vector<std::string> calls;

private:
    std::function<void(bool)> onChange_;
    std::function<void(std::optional<Rect>)> onAreaChange_;
};

} // namespace velm::test
