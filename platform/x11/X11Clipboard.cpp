#include "platform/x11/X11Clipboard.h"

#include "platform/core/Utf8.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "platform/x11/CopiedFiles.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11EventLoop.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <future>
#include <map>
#include <variant>

namespace velm {
namespace {

const Log x11ClipboardLog("clipboard");

constexpr std::array<std::uint8_t, 8> pngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Most data travels in one property; beyond this it goes in INCR chunks of this size.
constexpr std::size_t preferredChunk = 256 * 1024;
constexpr std::size_t maxTargets = 256;
constexpr std::chrono::seconds setUpLimit{5};

struct XFreeData {
    void operator()(unsigned char* data) const { XFree(data); }
};

// What a property held: its type, and its bytes (format 8) or its 32-bit items (format 32).
struct Property {
    Atom type = None;
    int format = 0;
    Bytes bytes;
    std::vector<unsigned long> items;
};

// Reads a property of ours whole and deletes it; nothing more than `limit` bytes is taken.
std::variant<Property, ClipboardReadFailure> takeProperty(Display* display, Window window, Atom name,
                                                          std::size_t limit) {
    Property property;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const long length = static_cast<long>(limit / 4 + 1);
    const int status = XGetWindowProperty(display, window, name, 0, length, True, AnyPropertyType,
                                          &property.type, &property.format, &count, &remaining, &data);
    const std::unique_ptr<unsigned char, XFreeData> owned(data);
    if (status != Success || property.type == None) {
        return ClipboardReadFailure::unreadable;
    }
    if (remaining > 0) {
        XDeleteProperty(display, window, name);
        return ClipboardReadFailure::tooLarge;
    }
    if (property.format == 8) {
        if (count > limit) {
            return ClipboardReadFailure::tooLarge;
        }
        property.bytes.assign(data, data + count);
    } else if (property.format == 32) {
        // Xlib hands 32-bit items out as longs.
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        property.items.assign(items, items + count);
    } else if (count > 0) {
        return ClipboardReadFailure::unreadable;
    }
    return property;
}

} // namespace

// Everything that touches X, on the loop's thread only.
struct X11Clipboard::XSide {
    enum class Kind { text, png, uriList, gnomeFiles };
    enum class Stage { targets, data, incremental };

    struct Read {
        std::uint64_t id = 0;
        Time time = CurrentTime;
        Stage stage = Stage::targets;
        Atom target = None;
        Kind kind = Kind::text;
        Bytes data;
        // The latest of the client's contents offered here when the read began.
        std::uint64_t offered = 0;
    };

    // A large answer going out in chunks, each written once the reader deleted the last.
    struct Transfer {
        Window requestor = None;
        Atom property = None;
        Atom type = None;
        std::shared_ptr<const Bytes> data;
        std::size_t offset = 0;
    };

    XSide(Limits chosen, std::weak_ptr<X11Clipboard> service, std::shared_ptr<Queue> ownerQueue)
        : limits(chosen), owner(std::move(service)), queue(std::move(ownerQueue)) {}

    void setUp(X11Connection& connection) {
        Display* display = connection.display();
        clipboard = connection.atom("CLIPBOARD");
        targets = connection.atom("TARGETS");
        timestamp = connection.atom("TIMESTAMP");
        incr = connection.atom("INCR");
        utf8 = connection.atom("UTF8_STRING");
        plainUtf8 = connection.atom("text/plain;charset=utf-8");
        png = connection.atom("image/png");
        uriList = connection.atom("text/uri-list");
        gnomeFiles = connection.atom("x-special/gnome-copied-files");
        property = connection.atom("VELM_SELECTION");
        window = XCreateSimpleWindow(display, connection.root(), -10, -10, 1, 1, 0, 0, 0);
        XSelectInput(display, window, PropertyChangeMask);
        const long maxRequest = std::max(XExtendedMaxRequestSize(display), XMaxRequestSize(display));
        chunkBytes = std::min<std::size_t>(preferredChunk, static_cast<std::size_t>(maxRequest) * 4 - 1024);
        int errorBase = 0;
        int major = 0;
        int minor = 0;
        // XFixes serves a client only once it has said which version it speaks.
        if (XFixesQueryExtension(display, &fixesEventBase, &errorBase) &&
            XFixesQueryVersion(display, &major, &minor)) {
            XFixesSelectSelectionInput(display, connection.root(), clipboard,
                                       XFixesSetSelectionOwnerNotifyMask);
        } else {
            fixesEventBase = -1;
            x11ClipboardLog.error("the x server has no xfixes: local clipboard changes go unnoticed");
        }
        // Changes made once setting up is over must be seen: the server has the selection by then.
        XSync(display, False);
    }

    void handle(X11Connection& connection, XEvent& event) {
        if (fixesEventBase >= 0 && event.type == fixesEventBase + XFixesSelectionNotify) {
            ownerChanged(connection, reinterpret_cast<const XFixesSelectionNotifyEvent&>(event));
            return;
        }
        switch (event.type) {
        case SelectionRequest:
            answer(connection, event.xselectionrequest);
            break;
        case SelectionClear:
            if (event.xselectionclear.selection == clipboard && !owns(connection.display())) {
                offer.clear();
            }
            break;
        case SelectionNotify:
            converted(connection, event.xselection);
            break;
        case PropertyNotify:
            propertyChanged(connection, event.xproperty);
            break;
        default:
            break;
        }
    }

    // Serving what the client put there.

    void offerContent(X11Connection& connection, const ClipboardContent& content, std::uint64_t generation) {
        // A later content of the client's is on its way here and would only undo this one.
        if (generation != recorded.load()) {
            return;
        }
        landed = generation;
        offer.clear();
        if (const auto* text = content.get<ClipboardContent::Text>()) {
            const auto bytes = std::make_shared<const Bytes>(toBytes(text->utf8));
            offer[utf8] = bytes;
            offer[plainUtf8] = bytes;
        } else if (const auto* picture = content.get<ClipboardContent::Png>()) {
            offer[png] = std::make_shared<const Bytes>(picture->data);
        } else {
            return;
        }
        XSetSelectionOwner(connection.display(), clipboard, window, CurrentTime);
        if (XGetSelectionOwner(connection.display(), clipboard) != window) {
            offer.clear();
            x11ClipboardLog.error("could not take the clipboard");
            return;
        }
        // What was copied here before the client's content would reach the client after it, and the
        // two sides would hold different things.
        read.reset();
    }

    void answer(X11Connection& connection, const XSelectionRequestEvent& request) {
        Display* display = connection.display();
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.display = display;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.time = request.time;
        reply.property = None;
        // Clients from before ICCCM 2 name no property and mean the target's name.
        const Atom destination = request.property == None ? request.target : request.property;
        X11ErrorTrap trap(display);
        if (request.selection == clipboard && request.owner == window && !offer.empty() &&
            write(display, request, destination)) {
            reply.property = destination;
        }
        XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
        if (trap.failed()) {
            x11ClipboardLog.debug("a clipboard reader went away before its answer");
        }
    }

    bool write(Display* display, const XSelectionRequestEvent& request, Atom destination) {
        // A reader that asks again into the same property gave up on what was going there: its
        // deletions from now on ask for chunks of the new answer.
        std::erase_if(transfers, [&](const Transfer& transfer) {
            return transfer.requestor == request.requestor && transfer.property == destination;
        });
        if (request.target == targets) {
            std::vector<unsigned long> list = {targets, timestamp};
            for (const auto& entry : offer) {
                list.push_back(entry.first);
            }
            XChangeProperty(display, request.requestor, destination, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(list.data()),
                            static_cast<int>(list.size()));
            return true;
        }
        if (request.target == timestamp) {
            const unsigned long time = ownedSince;
            XChangeProperty(display, request.requestor, destination, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&time), 1);
            return true;
        }
        const auto found = offer.find(request.target);
        if (found == offer.end()) {
            return false;
        }
        const Bytes& data = *found->second;
        if (data.size() <= chunkBytes) {
            XChangeProperty(display, request.requestor, destination, request.target, 8, PropModeReplace,
                            data.data(), static_cast<int>(data.size()));
            return true;
        }
        XSelectInput(display, request.requestor, PropertyChangeMask);
        const unsigned long size = data.size();
        XChangeProperty(display, request.requestor, destination, incr, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&size), 1);
        transfers.push_back({request.requestor, destination, request.target, found->second, 0});
        if (transfers.size() > maxTransfers) {
            transfers.pop_front();
        }
        return true;
    }

    void continueTransfer(Display* display, const XPropertyEvent& event) {
        const auto transfer = std::find_if(transfers.begin(), transfers.end(), [&](const Transfer& t) {
            return t.requestor == event.window && t.property == event.atom;
        });
        if (transfer == transfers.end()) {
            return;
        }
        const std::size_t length = std::min(chunkBytes, transfer->data->size() - transfer->offset);
        X11ErrorTrap trap(display);
        XChangeProperty(display, transfer->requestor, transfer->property, transfer->type, 8, PropModeReplace,
                        transfer->data->data() + transfer->offset, static_cast<int>(length));
        transfer->offset += length;
        // The empty chunk ends the transfer, as does a reader that went away.
        if (length == 0 || trap.failed()) {
            transfers.erase(transfer);
        }
    }

    // Reading what a local application put there.

    void ownerChanged(X11Connection& connection, const XFixesSelectionNotifyEvent& event) {
        if (event.selection != clipboard) {
            return;
        }
        if (event.owner == window) {
            ownedSince = event.selection_timestamp;
            return;
        }
        // Another client's copy and our taking the clipboard back may cross: its notices then come
        // after we took it, and what the client offered must still be answered.
        if (owns(connection.display())) {
            return;
        }
        offer.clear();
        if (watchers > 0 && event.owner != None) {
            startRead(connection, event.timestamp);
        }
    }

    // Whether the server says we hold the clipboard now, whatever notices are still to come.
    bool owns(Display* display) const { return XGetSelectionOwner(display, clipboard) == window; }

    void startRead(X11Connection& connection, Time time) {
        if (read) {
            report(*read, std::nullopt, ClipboardReadFailure::timedOut);
        }
        read = Read{++reads, time, Stage::targets, targets, Kind::text, {}, landed};
        post([id = read->id](X11Clipboard& self) { self.armTimeout(id); });
        XConvertSelection(connection.display(), clipboard, targets, property, window, time);
    }

    void converted(X11Connection& connection, const XSelectionEvent& event) {
        if (!read || event.requestor != window || event.selection != clipboard ||
            event.target != read->target || read->stage == Stage::incremental) {
            return;
        }
        if (event.property == None) {
            finish(std::nullopt, ClipboardReadFailure::unreadable);
            return;
        }
        Display* display = connection.display();
        const std::size_t limit = read->stage == Stage::targets ? maxTargets * 4 : limitFor(read->kind);
        auto taken = takeProperty(display, window, property, limit);
        if (const auto* failure = std::get_if<ClipboardReadFailure>(&taken)) {
            finish(std::nullopt, *failure);
            return;
        }
        Property& value = std::get<Property>(taken);
        if (read->stage == Stage::targets) {
            chooseTarget(display, value);
        } else if (value.type == incr) {
            // The owner sends chunks once the announcement is gone, each as a new value.
            read->stage = Stage::incremental;
        } else {
            read->data = std::move(value.bytes);
            complete();
        }
    }

    void chooseTarget(Display* display, const Property& offered) {
        const std::array<std::pair<Atom, Kind>, 5> preferred = {{{gnomeFiles, Kind::gnomeFiles},
                                                                 {uriList, Kind::uriList},
                                                                 {png, Kind::png},
                                                                 {utf8, Kind::text},
                                                                 {plainUtf8, Kind::text}}};
        for (const auto& [target, kind] : preferred) {
            if (std::find(offered.items.begin(), offered.items.end(), target) != offered.items.end()) {
                read->stage = Stage::data;
                read->target = target;
                read->kind = kind;
                XConvertSelection(display, clipboard, target, property, window, read->time);
                return;
            }
        }
        // Nothing we carry (a rich-text-only copy, say): no report and no failure.
        finish(std::nullopt, std::nullopt);
    }

    void propertyChanged(X11Connection& connection, const XPropertyEvent& event) {
        if (event.window != window) {
            if (event.state == PropertyDelete) {
                continueTransfer(connection.display(), event);
            }
            return;
        }
        if (!read || read->stage != Stage::incremental || event.atom != property ||
            event.state != PropertyNewValue) {
            return;
        }
        const std::size_t limit = limitFor(read->kind);
        auto taken =
            takeProperty(connection.display(), window, property, limit - std::min(limit, read->data.size()));
        if (const auto* failure = std::get_if<ClipboardReadFailure>(&taken)) {
            finish(std::nullopt, *failure);
            return;
        }
        const Bytes& chunk = std::get<Property>(taken).bytes;
        if (chunk.empty()) {
            complete();
            return;
        }
        read->data.insert(read->data.end(), chunk.begin(), chunk.end());
    }

    void complete() {
        Bytes data = std::move(read->data);
        switch (read->kind) {
        case Kind::text:
            finish(ClipboardContent::text(Utf8::repaired(toString(data))), std::nullopt);
            return;
        case Kind::png:
            if (data.size() < pngSignature.size() ||
                !std::equal(pngSignature.begin(), pngSignature.end(), data.begin())) {
                finish(std::nullopt, ClipboardReadFailure::unreadable);
                return;
            }
            finish(ClipboardContent::png(std::move(data)), std::nullopt);
            return;
        case Kind::uriList:
        case Kind::gnomeFiles:
            const auto paths = CopiedFiles::paths(toString(data), read->kind == Kind::gnomeFiles);
            finish(ClipboardContent::files(CopiedFiles::regularFiles(paths)), std::nullopt);
            return;
        }
    }

    std::size_t limitFor(Kind kind) const {
        switch (kind) {
        case Kind::text:
            return limits.textBytes;
        case Kind::png:
            return limits.pngBytes;
        case Kind::uriList:
        case Kind::gnomeFiles:
            return limits.listBytes;
        }
        return 0;
    }

    void expire(std::uint64_t id) {
        if (read && read->id == id) {
            finish(std::nullopt, ClipboardReadFailure::timedOut);
        }
    }

    void finish(std::optional<ClipboardContent> content, std::optional<ClipboardReadFailure> failure) {
        report(*read, std::move(content), failure);
        read.reset();
    }

    void report(const Read& finished, std::optional<ClipboardContent> content,
                std::optional<ClipboardReadFailure> failure) {
        post([id = finished.id, offered = finished.offered, content = std::move(content), failure](
                 X11Clipboard& self) mutable { self.finishRead(id, offered, std::move(content), failure); });
    }

    template <typename Function> void post(Function function) {
        queue->post(whileAlive(owner, std::move(function)));
    }

    const Limits limits;
    const std::weak_ptr<X11Clipboard> owner;
    const std::shared_ptr<Queue> queue;
    Window window = None;
    Atom clipboard = None, targets = None, timestamp = None, incr = None, utf8 = None, plainUtf8 = None,
         png = None, uriList = None, gnomeFiles = None, property = None;
    int fixesEventBase = -1;
    std::size_t chunkBytes = preferredChunk;
    // The watches held; changed from any thread, so that a change right after startWatching returns
    // is not missed.
    std::atomic<int> watchers{0};
    // Counts the client's contents from the moment `put` is called, on the caller's thread: a read
    // that began before the latest of them was offered here is older than it and never reported,
    // and an offer overtaken by a later one is not made.
    std::atomic<std::uint64_t> recorded{0};
    // The latest of them offered here.
    std::uint64_t landed = 0;
    std::map<Atom, std::shared_ptr<const Bytes>> offer;
    Time ownedSince = CurrentTime;
    std::deque<Transfer> transfers;
    std::optional<Read> read;
    std::uint64_t reads = 0;
};

std::shared_ptr<X11Clipboard> X11Clipboard::make(std::shared_ptr<Queue> queue, Limits limits) {
    auto clipboard = std::shared_ptr<X11Clipboard>(new X11Clipboard(std::move(queue)));
    if (clipboard->loop_) {
        auto side = std::make_shared<XSide>(limits, clipboard, clipboard->queue_);
        clipboard->xSide_ = side;
        // In place before the server is asked for events, so that none is read and dropped.
        clipboard->loop_->setEventHandler(
            [side](X11Connection& connection, XEvent& event) { side->handle(connection, event); });
        // Changes are noticed from the moment make returns.
        auto ready = std::make_shared<std::promise<void>>();
        auto done = ready->get_future();
        clipboard->loop_->post([side, ready](X11Connection& connection) {
            side->setUp(connection);
            ready->set_value();
        });
        done.wait_for(setUpLimit);
    }
    return clipboard;
}

X11Clipboard::X11Clipboard(std::shared_ptr<Queue> queue)
    : queue_(std::move(queue)), loop_(X11EventLoop::open("velm.x11.clipboard")) {}

X11Clipboard::~X11Clipboard() {
    timeout_.cancel();
}

void X11Clipboard::setOnLocalChange(ContentHandler handler) {
    queue_->post(whileAlive(shared_from_this(), [handler = std::move(handler)](X11Clipboard& self) {
        self.onLocalChange_ = handler;
    }));
}

void X11Clipboard::setOnReadFailure(FailureHandler handler) {
    queue_->post(whileAlive(shared_from_this(), [handler = std::move(handler)](X11Clipboard& self) {
        self.onReadFailure_ = handler;
    }));
}

void X11Clipboard::startWatching() {
    if (xSide_) {
        ++xSide_->watchers;
    }
}

void X11Clipboard::stopWatching() {
    if (!xSide_) {
        return;
    }
    // A stop with no start of its own ends nobody's watch.
    int held = xSide_->watchers.load();
    while (held > 0 && !xSide_->watchers.compare_exchange_weak(held, held - 1)) {
    }
}

void X11Clipboard::put(ClipboardContent content) {
    if (!loop_ || content.isOneOf<ClipboardContent::Files>()) {
        return;
    }
    const std::uint64_t generation = ++xSide_->recorded;
    queue_->post(whileAlive(shared_from_this(), [content](X11Clipboard& self) { self.lastPut_ = content; }));
    loop_->post([side = xSide_, content = std::move(content), generation](X11Connection& connection) {
        side->offerContent(connection, content, generation);
    });
}

void X11Clipboard::armTimeout(std::uint64_t read) {
    timeout_.cancel();
    timedRead_ = read;
    timeout_ = queue_->postAfter(
        readTimeout, whileAlive(shared_from_this(), [read](X11Clipboard& self) {
            if (self.timedRead_ == read) {
                self.loop_->post([side = self.xSide_, read](X11Connection&) { side->expire(read); });
            }
        }));
}

void X11Clipboard::finishRead(std::uint64_t read, std::uint64_t offered,
                              std::optional<ClipboardContent> content,
                              std::optional<ClipboardReadFailure> failure) {
    if (read == timedRead_) {
        timeout_.cancel();
        timedRead_ = 0;
    }
    if (failure) {
        x11ClipboardLog.info("a local clipboard change was not taken (%s)",
                             failure == ClipboardReadFailure::timedOut   ? "no answer"
                             : failure == ClipboardReadFailure::tooLarge ? "too large"
                                                                         : "unreadable");
        if (onReadFailure_) {
            onReadFailure_(*failure);
        }
        return;
    }
    // What was copied here before the client's latest content was offered would reach the client
    // after it, and the two sides would hold different things.
    if (offered != xSide_->recorded.load()) {
        return;
    }
    // What we put there and a clipboard manager took over is no news to the client; once something
    // else was copied here, the same copied again is.
    if (!content || content == lastPut_) {
        return;
    }
    lastPut_.reset();
    if (onLocalChange_) {
        onLocalChange_(std::move(*content));
    }
}

} // namespace velm
