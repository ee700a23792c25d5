// Connect-to-ready time as an owner sees it: connections made one after another from a queue, each
// made and started on the queue that hears its ready, without a hop to and from the benchmark's own
// thread per connection.
#pragma once

#include "platform/dispatch/Queue.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>
#include <future>
#include <memory>

namespace velm::bench {

class ConnectChain : public std::enable_shared_from_this<ConnectChain> {
public:
    // Makes and starts one connection on `queue`, which later calls `settled(true)` there once it is
    // ready, or `settled(false)` once it failed; what it returns keeps the connection alive.
    using Connect = std::function<std::shared_ptr<void>(const std::shared_ptr<Queue>& queue,
                                                        std::function<void(bool ready)> settled)>;

    ConnectChain(Connect connect, int length) : connect_(std::move(connect)), remaining_(length) {}

    // True when every connection of the chain became ready.
    bool run() {
        queue_->post([self = shared_from_this()] { self->next(); });
        return done_.get_future().get();
    }

private:
    void next() {
        current_.reset();
        if (remaining_-- == 0) {
            done_.set_value(true);
            return;
        }
        current_ = connect_(queue_, [weak = weak_from_this()](bool ready) {
            auto self = weak.lock();
            if (!self || !self->current_) {
                return;
            }
            if (ready) {
                self->next();
            } else {
                self->current_.reset();
                self->done_.set_value(false);
            }
        });
    }

    const Connect connect_;
    int remaining_;
    std::shared_ptr<Queue> queue_ = Queue::make("bench.client");
    std::shared_ptr<void> current_;
    std::promise<bool> done_;
};

// Times chains of connections, per connection (the benchmark uses manual time); a connection that
// fails ends the benchmark with `failure`.
inline void timeConnectChains(benchmark::State& state, const ConnectChain::Connect& connect,
                              const char* failure) {
    constexpr int chainLength = 16;
    for (auto _ : state) {
        auto chain = std::make_shared<ConnectChain>(connect, chainLength);
        const auto started = std::chrono::steady_clock::now();
        if (!chain->run()) {
            state.SkipWithError(failure);
            break;
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        state.SetIterationTime(elapsed.count() / chainLength);
    }
}

} // namespace velm::bench
