#include "tests/support/RecordingEventSink.h"

#include <cstdio>

namespace velm::test {
namespace {

std::string format(const char* pattern, auto... values) {
    char line[160];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

std::string keyLine(const char* kind, const InputEventSink::KeyEvent& event) {
    return format("%s %u %s flags 0x%llx", kind, unsigned(event.keyCode), event.down ? "down" : "up",
                  static_cast<unsigned long long>(event.flags));
}

} // namespace

void RecordingEventSink::postMouse(const MouseEvent& event) {
    record_->posted.push_back(format("mouse %d button %u at %g,%g clicks %d flags 0x%llx", int(event.type),
                                     unsigned(event.button), event.location.x, event.location.y,
                                     event.clickState, static_cast<unsigned long long>(event.flags)));
}

void RecordingEventSink::postKey(const KeyEvent& event) {
    record_->posted.push_back(keyLine("key", event));
}

void RecordingEventSink::postFlagsChanged(const KeyEvent& event) {
    record_->posted.push_back(keyLine("flagsChanged", event));
}

void RecordingEventSink::postScroll(const ScrollEvent& event) {
    record_->posted.push_back(format("scroll %d %d flags 0x%llx", int(event.vertical), int(event.horizontal),
                                     static_cast<unsigned long long>(event.flags)));
}

void RecordingEventSink::postText(std::string_view character) {
    record_->posted.push_back("text " + std::string(character));
}

void RecordingEventSink::warp(Location location) {
    record_->posted.push_back(format("warp %g,%g", location.x, location.y));
}

} // namespace velm::test
