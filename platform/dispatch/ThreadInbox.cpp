#include "platform/dispatch/ThreadInbox.h"

#include "platform/dispatch/Queue.h"

#include <cerrno>
#include <cstdint>
#include <iterator>
#include <sys/eventfd.h>
#include <unistd.h>

namespace velm {

ThreadInbox::ThreadInbox() : wakeDescriptor_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ThreadInbox::~ThreadInbox() {
    if (wakeDescriptor_ >= 0) {
        ::close(wakeDescriptor_);
    }
}

void ThreadInbox::post(Task task) {
    {
        std::lock_guard guard(lock_);
        if (isClosed_) {
            return;
        }
        tasks_.push_back(std::move(task));
    }
    wake();
}

bool ThreadInbox::runTasks() {
    while (true) {
        Task task;
        {
            std::lock_guard guard(lock_);
            if (isClosed_) {
                return false;
            }
            if (tasks_.empty()) {
                return true;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        Queue::runLogged(task, "a thread inbox");
    }
}

bool ThreadInbox::isClosed() const {
    std::lock_guard guard(lock_);
    return isClosed_;
}

bool ThreadInbox::wait(pollfd other, int timeoutMillis) {
    pollfd descriptors[2] = {{wakeDescriptor_, POLLIN, 0}, other};
    if (poll(descriptors, 2, timeoutMillis) < 0 && errno != EINTR) {
        return false;
    }
    std::uint64_t count = 0;
    [[maybe_unused]] const auto drained = read(wakeDescriptor_, &count, sizeof count);
    return true;
}

void ThreadInbox::close() {
    {
        std::lock_guard guard(lock_);
        isClosed_ = true;
        std::move(tasks_.begin(), tasks_.end(), std::back_inserter(dropped_));
        tasks_.clear();
    }
    wake();
}

void ThreadInbox::closeAndJoin(std::thread& servingThread) {
    close();
    if (std::this_thread::get_id() == servingThread.get_id()) {
        servingThread.detach();
    } else {
        servingThread.join();
    }
    // Released outside the lock, after the thread: what they hold may post on its way out.
    std::deque<Task> dropped;
    std::lock_guard guard(lock_);
    dropped.swap(dropped_);
}

void ThreadInbox::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wakeDescriptor_, &one, sizeof one);
}

} // namespace velm
