#include "platform/x11/X11TraySelection.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "platform/x11/X11EventLoop.h"

#include <X11/extensions/Xfixes.h>
#include <future>

namespace velm {
namespace {

const Log x11TraySelectionLog("x11");

} // namespace

std::shared_ptr<X11TraySelection> X11TraySelection::make(std::shared_ptr<Queue> queue,
                                                         std::string selection) {
    auto tray = std::shared_ptr<X11TraySelection>(new X11TraySelection(std::move(queue)));
    if (!tray->loop_) {
        return tray;
    }
    // A server that stops answering leaves no tray rather than holding the caller.
    auto read = std::make_shared<std::promise<void>>();
    auto done = read->get_future();
    tray->loop_->setEventHandler(whileAlive(tray, &X11TraySelection::handleEvent));
    tray->loop_->post(whileAlive(
        tray, [read, selection = std::move(selection)](X11TraySelection& self, X11Connection& connection) {
            self.watch(connection, selection);
            read->set_value();
        }));
    done.wait_for(firstReadLimit);
    return tray;
}

X11TraySelection::X11TraySelection(std::shared_ptr<Queue> queue)
    : queue_(std::move(queue)), loop_(X11EventLoop::open("velm.x11.tray")) {}

X11TraySelection::~X11TraySelection() = default;

void X11TraySelection::setOnChange(std::function<void()> handler) {
    std::lock_guard guard(lock);
    onChange_ = std::move(handler);
}

bool X11TraySelection::isOwned() const {
    std::lock_guard guard(lock);
    return owned_;
}

// Watching starts before the owner is read, so that no change falls between the two.
void X11TraySelection::watch(X11Connection& connection, const std::string& selection) {
    Display* display = connection.display();
    const std::string name =
        selection.empty() ? "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display)) : selection;
    selection_ = connection.atom(name.c_str());
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // XFixes serves a client only once it has said which version it speaks.
    if (XFixesQueryExtension(display, &fixesEventBase_, &errorBase) &&
        XFixesQueryVersion(display, &major, &minor)) {
        XFixesSelectSelectionInput(display, connection.root(), selection_,
                                   XFixesSetSelectionOwnerNotifyMask |
                                       XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
    } else {
        fixesEventBase_ = -1;
        x11TraySelectionLog.error("the x server has no xfixes: a system tray started later goes unnoticed");
    }
    ownedIs(XGetSelectionOwner(display, selection_) != None);
}

void X11TraySelection::handleEvent(X11Connection&, XEvent& event) {
    if (fixesEventBase_ < 0 || event.type != fixesEventBase_ + XFixesSelectionNotify) {
        return;
    }
    const auto& notice = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
    if (notice.selection != selection_) {
        return;
    }
    // An owner's window or connection that goes leaves the selection without owner.
    ownedIs(notice.subtype == XFixesSetSelectionOwnerNotify && notice.owner != None);
}

void X11TraySelection::ownedIs(bool owned) {
    std::function<void()> handler;
    {
        std::lock_guard guard(lock);
        if (owned_ == owned) {
            return;
        }
        owned_ = owned;
        handler = onChange_;
    }
    if (handler) {
        queue_->post(whileAlive(shared_from_this(), [handler](X11TraySelection&) { handler(); }));
    }
}

} // namespace velm
