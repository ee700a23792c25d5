#include "platform/dispatch/IoPool.h"

#include "platform/log/Log.h"

#include <algorithm>
#include <exception>
#include <pthread.h>
#include <string>
#include <system_error>

namespace velm {
namespace {

// The pool whose thread this is, if any.
thread_local const IoPool* threadPool = nullptr;

} // namespace

// Stops a pool when static objects are destroyed at exit. Made after its pool,
// so destroyed before anything the pool's threads were started with.
struct IoPool::StopAtExit {
    IoPool& pool;
    ~StopAtExit() { pool.stop(); }
};

IoPool& IoPool::shared() {
    static IoPool* pool = new IoPool(2, "io-shared");
    static StopAtExit stopAtExit{*pool};
    return *pool;
}

IoPool& IoPool::background() {
    static IoPool* pool = new IoPool(std::max(4u, std::thread::hardware_concurrency()), "io-background");
    static StopAtExit stopAtExit{*pool};
    return *pool;
}

IoPool::IoPool(std::size_t count, const char* name) : keepRunning_(asio::make_work_guard(context_)) {
    std::lock_guard guard(lock);
    for (std::size_t i = 0; i < count; ++i) {
        try {
            threads_.emplace_back([this] { runThread(); });
        } catch (const std::system_error& error) {
            // Fewer threads still work; none would leave every queue stuck.
            if (threads_.empty()) {
                throw;
            }
            Log("dispatch").error("started only %zu pool threads: %s", threads_.size(), error.what());
            break;
        }
        ++runningThreads_;
        // Named here rather than by the thread itself, so the name is there once the pool is. Linux keeps
        // 15 bytes of it.
        const std::string threadName =
            std::string(name).append("-").append(std::to_string(i + 1)).substr(0, 15);
        pthread_setname_np(threads_.back().native_handle(), threadName.c_str());
    }
}

void IoPool::runThread() {
    threadPool = this;
    // Queues catch what their work throws; this catches what other handlers
    // on the context (sockets, timers used directly) let escape. run() may be
    // called again after a handler threw.
    for (;;) {
        try {
            context_.run();
            break;
        } catch (const std::exception& error) {
            Log("dispatch").error("handler threw: %s", error.what());
        } catch (...) {
            Log("dispatch").error("handler threw a non-standard exception");
        }
    }
    std::lock_guard guard(lock);
    --runningThreads_;
    threadEnded_.notify_all();
}

void IoPool::stop() {
    keepRunning_.reset();
    context_.stop();

    // exit() may be called from work on one of our own threads: that thread
    // cannot be waited for.
    const std::size_t selfCount = threadPool == this ? 1 : 0;
    std::unique_lock guard(lock);
    const bool allEnded =
        threadEnded_.wait_for(guard, exitWaitLimit, [&] { return runningThreads_ == selfCount; });
    guard.unlock();
    if (!allEnded) {
        Log("dispatch").error("pool threads still busy at exit, leaving them");
    }
    for (auto& thread : threads_) {
        if (allEnded && thread.get_id() != std::this_thread::get_id()) {
            thread.join();
        } else {
            thread.detach();
        }
    }
}

} // namespace velm
