#pragma once

#include "platform/dispatch/Queue.h"

#include <asio/signal_set.hpp>
#include <functional>
#include <memory>
#include <vector>

namespace velm {

// Turns process signals (SIGTERM, SIGINT) into work on a queue, so the program can quit in order
// instead of dying in a signal handler. The signal handler itself only writes to asio's self-pipe;
// the handler set here runs on the owner's queue, once for every signal that arrives.
class SignalSource : public std::enable_shared_from_this<SignalSource> {
public:
    static std::shared_ptr<SignalSource> make(std::vector<int> numbers, std::shared_ptr<Queue> queue);
    // A write to a pipe whose reader has left then fails with EPIPE instead of ending the process.
    static void ignoreBrokenPipes();

    ~SignalSource();
    SignalSource(const SignalSource&) = delete;
    SignalSource& operator=(const SignalSource&) = delete;

    // Set before start.
    void setOnSignal(std::function<void(int number)> handler);
    // Once it returns, the signals no longer end the process: they are reported.
    void start();

private:
    SignalSource(std::vector<int> numbers, std::shared_ptr<Queue> queue);

    void wait();

    const std::vector<int> numbers_;
    const std::shared_ptr<Queue> queue_;
    std::function<void(int)> onSignal_;
    // Touched only on its strand once start() has taken the signals.
    asio::signal_set signals_;
};

} // namespace velm
