#pragma once

#include "platform/dispatch/Queue.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

union _XEvent;

namespace velm {

class X11Connection;
class X11EventLoop;

// Whether an XEmbed system tray runs on the display: a tray manager owns the selection
// "_NET_SYSTEM_TRAY_S<screen>" of the freedesktop.org system tray for as long as it runs. XFixes tells of
// every new owner and of an owner's window or connection going, so a tray started after this program,
// or started again, is heard of as it comes and goes. On a connection and thread of its own.
class X11TraySelection final : public std::enable_shared_from_this<X11TraySelection> {
public:
    static constexpr std::chrono::seconds firstReadLimit{5};

    // Reads the owner once before returning. `selection` names another selection than the tray's of
    // the default screen (tests). Without a desktop there is never a tray.
    static std::shared_ptr<X11TraySelection> make(std::shared_ptr<Queue> queue, std::string selection = {});

    ~X11TraySelection();
    X11TraySelection(const X11TraySelection&) = delete;
    X11TraySelection& operator=(const X11TraySelection&) = delete;

    // Called on the queue after each change of isOwned().
    void setOnChange(std::function<void()> handler);
    // As last read; safe from any thread.
    bool isOwned() const;

private:
    explicit X11TraySelection(std::shared_ptr<Queue> queue);

    void watch(X11Connection& connection, const std::string& selection);
    void handleEvent(X11Connection& connection, _XEvent& event);
    void ownedIs(bool owned);

    const std::shared_ptr<Queue> queue_;
    std::unique_ptr<X11EventLoop> loop_;
    // Touched on the loop's thread only.
    unsigned long selection_ = 0;
    int fixesEventBase_ = -1;

    mutable std::mutex lock;
    bool owned_ = false;
    std::function<void()> onChange_;
};

} // namespace velm
