#pragma once

#include <functional>
#include <mutex>

class QObject;

namespace velm {

// The way back to a widget for work that finishes on another thread: what is posted runs on the
// widget's thread, in post order, and only while the widget lives. Widgets are not owned through
// shared pointers, so this stands in for whileAlive: the widget holds the handoff, background work
// holds it too, and the widget closes it when it goes. Anything still queued for the widget is
// dropped with it by Qt.
class GuiHandoff {
public:
    explicit GuiHandoff(QObject* receiver) : receiver_(receiver) {}

    GuiHandoff(const GuiHandoff&) = delete;
    GuiHandoff& operator=(const GuiHandoff&) = delete;

    // From any thread.
    void post(std::function<void()> work);
    // On the receiver's thread, before it is destroyed; later posts do nothing.
    void close();

private:
    std::mutex lock;
    QObject* receiver_;
};

} // namespace velm
