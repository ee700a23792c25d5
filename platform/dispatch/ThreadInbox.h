#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <poll.h>
#include <thread>

namespace velm {

// The tasks handed to a thread of its own that sleeps in poll() on a foreign library's descriptor
// (an X connection, a bus). Any thread may post; the serving thread runs the tasks in order between
// its waits, and a post wakes it through a descriptor it watches beside its own.
class ThreadInbox {
public:
    using Task = std::function<void()>;

    ThreadInbox();
    ~ThreadInbox();
    ThreadInbox(const ThreadInbox&) = delete;
    ThreadInbox& operator=(const ThreadInbox&) = delete;

    // False when the wake-up descriptor could not be made (errno says why): nothing can serve then.
    bool isUsable() const { return wakeDescriptor_ >= 0; }

    // Queues `task` behind the tasks posted before it; dropped once the inbox is closed.
    void post(Task task);

    // On the serving thread: runs the tasks posted so far; false once the inbox is closed. What a task
    // throws is logged and goes no further.
    bool runTasks();
    bool isClosed() const;
    // On the serving thread: sleeps until a post, an event of `other` (ignored when its descriptor is
    // negative) or the end of `timeoutMillis` (-1: none). False, with errno set, when poll() fails.
    bool wait(pollfd other, int timeoutMillis);

    // Later posts are dropped, tasks not yet run put aside, and the serving thread woken to end.
    void close();
    // From the owner on its way out: closes, joins the serving thread, then releases the tasks never
    // run. From the serving thread
    // itself (its last owner let go inside a task) the thread is left to end by itself once that task
    // returns.
    void closeAndJoin(std::thread& servingThread);

private:
    void wake() const;

    const int wakeDescriptor_;
    mutable std::mutex lock_;
    std::deque<Task> tasks_;
    // What close() took from tasks_, released once the serving thread is gone.
    std::deque<Task> dropped_;
    bool isClosed_ = false;
};

} // namespace velm
