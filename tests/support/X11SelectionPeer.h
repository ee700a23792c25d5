#pragma once

#include "platform/core/Bytes.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct _XDisplay;
union _XEvent;

namespace velm::test {

// Another application on the test X server's clipboard: it owns CLIPBOARD and answers from a
// thread of its own (data over 64 KiB in INCR chunks), or reads the clipboard as a client would.
class X11SelectionPeer {
public:
    static constexpr std::size_t chunkBytes = 64 * 1024;

    // Nothing when the server cannot be reached.
    static std::unique_ptr<X11SelectionPeer> open();
    ~X11SelectionPeer();
    X11SelectionPeer(const X11SelectionPeer&) = delete;
    X11SelectionPeer& operator=(const X11SelectionPeer&) = delete;

    // Takes the clipboard, offering each target's bytes; an owner that does not answer never
    // replies to a request (it only counts them).
    void own(std::map<std::string, Bytes> targets, bool answers = true);
    std::size_t requestsSeen() const { return requests_.load(); }
    // Keeps requests for data (not for the list of targets) unanswered until `release`, as an owner
    // that is slow to send its data would.
    void holdData();
    void release();
    // Grabs the server: until `releaseServer` only this owner's requests are carried out, and other
    // clients (the clipboard under test) wait in the middle of whatever they asked.
    void holdServer();
    void releaseServer();

    // The window that owns the clipboard now, or 0.
    unsigned long owner();
    // Sends a request straight to `window`'s client and waits for its answer; by then that client
    // handled every event it was sent before, and what it asked of this owner has been seen.
    bool answeredBy(unsigned long window);

    // What the clipboard's owner gives for `target`; nothing when it refuses or takes over 5 s.
    std::optional<Bytes> read(const std::string& target);
    // Asks for `target` and gives up once the owner announced a chunked answer, leaving it half
    // sent, as a reader that timed out would; false when no such announcement came.
    bool abandonRead(const std::string& target);

private:
    struct Transfer;

    X11SelectionPeer(_XDisplay* server, _XDisplay* reader);

    void serve();
    void handleEvents();
    void answer(const _XEvent& event);

    _XDisplay* server_;
    _XDisplay* reader_;
    unsigned long serverWindow_;
    unsigned long readerWindow_;
    std::mutex lock;
    std::map<unsigned long, Bytes> offer_;
    bool answers_ = true;
    bool holdsData_ = false;
    std::vector<_XEvent> held_;
    std::map<unsigned long, std::unique_ptr<Transfer>> transfers_;
    std::atomic<std::size_t> requests_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace velm::test
