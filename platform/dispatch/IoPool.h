#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace velm {

// An asio::io_context and the threads that run it. The process has two.
//
// shared(): every serial queue is a strand on it, and sockets and timers that
// belong to a queue use the same context. Its work waits for nothing longer
// than a disk write, so two threads serve it: with more, each hand-over
// between strands tends to wake another thread, and a connection's latency
// grows with every wake-up.
//
// background(): the global queue's work, which may block (a multicast search
// waiting for answers, a signature from a slow key store), so it cannot hold
// up the network.
//
// Each is started on first use and never destroyed, so that work still
// running while the process exits finds it intact. At exit the context is stopped and its
// threads are joined; a thread still busy after exitWaitLimit is left behind
// rather than letting exit hang. Work still pending at that point never runs.
class IoPool {
public:
    static constexpr std::chrono::seconds exitWaitLimit{2};

    static IoPool& shared();
    static IoPool& background();

    asio::io_context& context() { return context_; }

    IoPool(const IoPool&) = delete;
    IoPool& operator=(const IoPool&) = delete;

private:
    struct StopAtExit;

    // Each thread is named "<name>-<number>", so a look at the process's threads tells the pools apart.
    IoPool(std::size_t threadCount, const char* name);
    ~IoPool() = delete;

    void runThread();
    void stop();

    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning_;
    std::mutex lock;
    std::condition_variable threadEnded_;
    std::size_t runningThreads_ = 0;
    std::vector<std::thread> threads_;
};

} // namespace velm
