#include "tests/support/X11SelectionPeer.h"

#include "tests/support/X11TestDesktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <chrono>
#include <poll.h>

namespace velm::test {

// A chunked answer: the next chunk goes once the reader deleted the last.
struct X11SelectionPeer::Transfer {
    Atom property;
    Atom type;
    Bytes data;
    std::size_t offset = 0;
};

namespace {

constexpr std::chrono::seconds readLimit{5};

Atom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

// Waits for an event of `type` on `window`; false after the deadline.
bool waitFor(Display* display, Window window, int type, XEvent& event,
             std::chrono::steady_clock::time_point deadline) {
    while (std::chrono::steady_clock::now() < deadline) {
        if (XCheckTypedWindowEvent(display, window, type, &event)) {
            return true;
        }
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, 10);
    }
    return false;
}

// Reads and deletes a property of the reader's window.
std::optional<std::pair<Atom, Bytes>> take(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1 << 24, True, AnyPropertyType, &type, &format,
                           &count, &remaining, &data) != Success) {
        return std::nullopt;
    }
    const std::size_t unit = format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
    Bytes bytes(data, data + count * unit);
    XFree(data);
    return std::make_pair(type, std::move(bytes));
}

} // namespace

std::unique_ptr<X11SelectionPeer> X11SelectionPeer::open() {
    Display* server = X11TestDesktop::openDisplay();
    Display* reader = X11TestDesktop::openDisplay();
    if (!server || !reader) {
        if (server) {
            XCloseDisplay(server);
        }
        if (reader) {
            XCloseDisplay(reader);
        }
        return nullptr;
    }
    return std::unique_ptr<X11SelectionPeer>(new X11SelectionPeer(server, reader));
}

X11SelectionPeer::X11SelectionPeer(Display* server, Display* reader)
    : server_(server), reader_(reader),
      serverWindow_(XCreateSimpleWindow(server, DefaultRootWindow(server), 0, 0, 1, 1, 0, 0, 0)),
      readerWindow_(XCreateSimpleWindow(reader, DefaultRootWindow(reader), 0, 0, 1, 1, 0, 0, 0)) {
    XSelectInput(reader_, readerWindow_, PropertyChangeMask);
    XSync(server_, False);
    XSync(reader_, False);
    thread_ = std::thread([this] { serve(); });
}

X11SelectionPeer::~X11SelectionPeer() {
    stopping_ = true;
    thread_.join();
    XCloseDisplay(server_);
    XCloseDisplay(reader_);
}

void X11SelectionPeer::own(std::map<std::string, Bytes> targets, bool answers) {
    std::lock_guard guard(lock);
    offer_.clear();
    for (auto& [name, bytes] : targets) {
        offer_[atom(server_, name.c_str())] = std::move(bytes);
    }
    answers_ = answers;
    XSetSelectionOwner(server_, atom(server_, "CLIPBOARD"), serverWindow_, CurrentTime);
    XSync(server_, False);
}

void X11SelectionPeer::serve() {
    while (!stopping_) {
        {
            std::lock_guard guard(lock);
            handleEvents();
        }
        pollfd descriptor{ConnectionNumber(server_), POLLIN, 0};
        poll(&descriptor, 1, 10);
    }
}

void X11SelectionPeer::handleEvents() {
    while (XPending(server_) > 0) {
        XEvent event;
        XNextEvent(server_, &event);
        if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
            const auto found = transfers_.find(event.xproperty.window);
            if (found == transfers_.end() || found->second->property != event.xproperty.atom) {
                continue;
            }
            Transfer& transfer = *found->second;
            const std::size_t length = std::min(chunkBytes, transfer.data.size() - transfer.offset);
            XChangeProperty(server_, event.xproperty.window, transfer.property, transfer.type, 8,
                            PropModeReplace, transfer.data.data() + transfer.offset,
                            static_cast<int>(length));
            transfer.offset += length;
            if (length == 0) {
                transfers_.erase(found);
            }
            continue;
        }
        if (event.type != SelectionRequest) {
            continue;
        }
        ++requests_;
        if (!answers_) {
            continue;
        }
        if (holdsData_ && event.xselectionrequest.target != atom(server_, "TARGETS")) {
            held_.push_back(event);
            continue;
        }
        answer(event);
    }
}

void X11SelectionPeer::answer(const XEvent& event) {
    const XSelectionRequestEvent& request = event.xselectionrequest;
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = request.property;
    const auto found = offer_.find(request.target);
    if (request.target == atom(server_, "TARGETS")) {
        std::vector<unsigned long> targets;
        for (const auto& entry : offer_) {
            targets.push_back(entry.first);
        }
        XChangeProperty(server_, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(targets.data()),
                        static_cast<int>(targets.size()));
    } else if (found == offer_.end()) {
        reply.property = None;
    } else if (found->second.size() <= chunkBytes) {
        XChangeProperty(server_, request.requestor, request.property, request.target, 8, PropModeReplace,
                        found->second.data(), static_cast<int>(found->second.size()));
    } else {
        XSelectInput(server_, request.requestor, PropertyChangeMask);
        const long size = static_cast<long>(found->second.size());
        XChangeProperty(server_, request.requestor, request.property, atom(server_, "INCR"), 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&size), 1);
        transfers_[request.requestor] =
            std::make_unique<Transfer>(Transfer{request.property, request.target, found->second, 0});
    }
    XSendEvent(server_, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(server_);
}

void X11SelectionPeer::holdData() {
    std::lock_guard guard(lock);
    holdsData_ = true;
}

void X11SelectionPeer::release() {
    std::lock_guard guard(lock);
    holdsData_ = false;
    for (const XEvent& event : held_) {
        answer(event);
    }
    held_.clear();
    // The answers are on their way to the reader before anything asked of the peer afterwards.
    XSync(server_, False);
}

void X11SelectionPeer::holdServer() {
    std::lock_guard guard(lock);
    XGrabServer(server_);
    XSync(server_, False);
}

void X11SelectionPeer::releaseServer() {
    std::lock_guard guard(lock);
    XUngrabServer(server_);
    XSync(server_, False);
}

unsigned long X11SelectionPeer::owner() {
    return XGetSelectionOwner(reader_, atom(reader_, "CLIPBOARD"));
}

bool X11SelectionPeer::answeredBy(unsigned long window) {
    XSelectionRequestEvent request{};
    request.type = SelectionRequest;
    request.owner = readerWindow_;
    request.requestor = readerWindow_;
    request.selection = atom(reader_, "VELM_PEER_PING");
    request.target = atom(reader_, "TARGETS");
    request.property = atom(reader_, "VELM_PEER");
    request.time = CurrentTime;
    XSendEvent(reader_, window, False, NoEventMask, reinterpret_cast<XEvent*>(&request));
    XFlush(reader_);
    XEvent event;
    if (!waitFor(reader_, readerWindow_, SelectionNotify, event,
                 std::chrono::steady_clock::now() + readLimit)) {
        return false;
    }
    // Requests that client made before answering reached this owner before the answer came.
    std::lock_guard guard(lock);
    XSync(server_, False);
    handleEvents();
    return true;
}

bool X11SelectionPeer::abandonRead(const std::string& target) {
    const Atom property = atom(reader_, "VELM_PEER");
    XConvertSelection(reader_, atom(reader_, "CLIPBOARD"), atom(reader_, target.c_str()), property,
                      readerWindow_, CurrentTime);
    XFlush(reader_);
    XEvent event;
    if (!waitFor(reader_, readerWindow_, SelectionNotify, event,
                 std::chrono::steady_clock::now() + readLimit) ||
        event.xselection.property == None) {
        return false;
    }
    // Taking the announcement asks for the first chunk, which is never taken.
    const auto announcement = take(reader_, readerWindow_, property);
    XSync(reader_, False);
    return announcement && announcement->first == atom(reader_, "INCR");
}

std::optional<Bytes> X11SelectionPeer::read(const std::string& target) {
    const auto deadline = std::chrono::steady_clock::now() + readLimit;
    const Atom property = atom(reader_, "VELM_PEER");
    XConvertSelection(reader_, atom(reader_, "CLIPBOARD"), atom(reader_, target.c_str()), property,
                      readerWindow_, CurrentTime);
    XFlush(reader_);
    XEvent event;
    if (!waitFor(reader_, readerWindow_, SelectionNotify, event, deadline) ||
        event.xselection.property == None) {
        return std::nullopt;
    }
    // Notices of the reader's own property changes so far are not chunks.
    while (XCheckTypedWindowEvent(reader_, readerWindow_, PropertyNotify, &event)) {
    }
    auto first = take(reader_, readerWindow_, property);
    XFlush(reader_);
    if (!first || first->first != atom(reader_, "INCR")) {
        return first ? std::optional<Bytes>(std::move(first->second)) : std::nullopt;
    }
    Bytes data;
    while (waitFor(reader_, readerWindow_, PropertyNotify, event, deadline)) {
        if (event.xproperty.atom != property || event.xproperty.state != PropertyNewValue) {
            continue;
        }
        auto chunk = take(reader_, readerWindow_, property);
        XFlush(reader_);
        if (!chunk || chunk->second.empty()) {
            return chunk ? std::optional<Bytes>(std::move(data)) : std::nullopt;
        }
        data.insert(data.end(), chunk->second.begin(), chunk->second.end());
    }
    return std::nullopt;
}

} // namespace velm::test
