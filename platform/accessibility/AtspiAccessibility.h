#pragma once

#include "platform/accessibility/Accessibility.h"

#include <atomic>
#include <memory>
#include <thread>

struct _GMainContext;
struct _GMainLoop;

namespace velm {

class AtspiTree;

// The accessibility tree through AT-SPI, on a thread of its own that runs a GLib main loop: libatspi
// is not thread-safe and delivers its events only through a running main context. libatspi keeps one
// connection per process, so there is one of these per process.
class AtspiAccessibility final : public Accessibility {
public:
    // Visits waiting beyond this many are dropped (and logged): only a stuck thread gets there.
    static constexpr int maxPendingVisits = 64;

    // Made on first use; its thread stops at exit.
    static std::shared_ptr<Accessibility> shared();

    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    void visit(Visit visit) override;

private:
    struct Call;

    AtspiAccessibility();

    void run();
    static int runCall(void* call);

    _GMainContext* context_;
    _GMainLoop* loop_;
    std::atomic<int> pending_{0};
    // Touched on the thread only.
    std::unique_ptr<AtspiTree> tree_;
    std::thread thread_;
};

} // namespace velm
