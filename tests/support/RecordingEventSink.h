#pragma once

#include "platform/display/InputEventSink.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm::test {

// An input event sink that writes down what it is asked to post, one line per event, with mouse events
// by type number: "mouse 1 button 0 at 10,20 clicks 1 flags 0x20000", "key 126 down flags 0xa00000",
// "flagsChanged 56 up flags 0x0", "scroll 3 -3 flags 0x0", "text é", "warp 10,20", "releaseAll".
// The pointer is where a test puts it.
class RecordingEventSink final : public InputEventSink {
public:
    // What the sink saw, shared so that a test can keep reading it after handing the sink over.
    struct Record {
        std::vector<std::string> posted;
        std::optional<Location> cursor;
        double doubleClickInterval = 0.5;
    };

    explicit RecordingEventSink(std::shared_ptr<Record> record) : record_(std::move(record)) {}

    void postMouse(const MouseEvent& event) override;
    void postKey(const KeyEvent& event) override;
    void postFlagsChanged(const KeyEvent& event) override;
    void postScroll(const ScrollEvent& event) override;
    void postText(std::string_view character) override;
    void warp(Location location) override;
    std::optional<Location> cursorLocation() override { return record_->cursor; }
    double doubleClickInterval() override { return record_->doubleClickInterval; }
    void releaseAll() override { record_->posted.push_back("releaseAll"); }

private:
    std::shared_ptr<Record> record_;
};

} // namespace velm::test
