#include "tests/support/RecordingInputSink.h"

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

std::string name(InputEventSink::MouseType type) {
    using MouseType = InputEventSink::MouseType;
    switch (type) {
    case MouseType::leftDown:
        return "leftDown";
    case MouseType::leftUp:
        return "leftUp";
    case MouseType::rightDown:
        return "rightDown";
    case MouseType::rightUp:
        return "rightUp";
    case MouseType::moved:
        return "moved";
    case MouseType::leftDragged:
        return "leftDragged";
    case MouseType::rightDragged:
        return "rightDragged";
    case MouseType::otherDown:
        return "otherDown";
    case MouseType::otherUp:
        return "otherUp";
    case MouseType::otherDragged:
        return "otherDragged";
    }
    return "?";
}

} // namespace

void RecordingInputSink::postMouse(const MouseEvent& event) {
    record_->posted.push_back(format("%s %u at %g,%g clicks %d flags 0x%llx", name(event.type).c_str(),
                                     unsigned(event.button), event.location.x, event.location.y,
                                     event.clickState, static_cast<unsigned long long>(event.flags)));
}

void RecordingInputSink::postKey(const KeyEvent& event) {
    record_->posted.push_back(keyLine("key", event));
}

void RecordingInputSink::postFlagsChanged(const KeyEvent& event) {
    record_->posted.push_back(keyLine("flagsChanged", event));
}

void RecordingInputSink::postScroll(const ScrollEvent& event) {
    record_->posted.push_back(format("scroll %d %d flags 0x%llx", int(event.vertical), int(event.horizontal),
                                     static_cast<unsigned long long>(event.flags)));
}

void RecordingInputSink::postText(std::string_view character) {
    record_->posted.push_back("text " + std::string(character));
}

void RecordingInputSink::warp(Location location) {
    record_->posted.push_back(format("warp %g,%g", location.x, location.y));
}

} // namespace velm::test
