#include "platform/dispatch/SignalSource.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <csignal>

namespace velm {

std::shared_ptr<SignalSource> SignalSource::make(std::vector<int> numbers, std::shared_ptr<Queue> queue) {
    return std::shared_ptr<SignalSource>(new SignalSource(std::move(numbers), std::move(queue)));
}

SignalSource::SignalSource(std::vector<int> numbers, std::shared_ptr<Queue> queue)
    : numbers_(std::move(numbers)), queue_(std::move(queue)),
      signals_(asio::make_strand(IoPool::shared().context())) {}

SignalSource::~SignalSource() {
    std::error_code ignored;
    signals_.clear(ignored);
}

void SignalSource::setOnSignal(std::function<void(int)> handler) {
    onSignal_ = std::move(handler);
}

void SignalSource::start() {
    // Taken over here rather than on the strand: a signal in the moment before a busy pool got to it would
    // still end the process. Nothing else touches the set yet; one that comes before the wait is kept.
    for (const int number : numbers_) {
        std::error_code error;
        signals_.add(number, error);
        if (error) {
            Log("dispatch").error("signal %d stays unhandled: %s", number, error.message().c_str());
        }
    }
    asio::post(signals_.get_executor(), whileAlive(shared_from_this(), &SignalSource::wait));
}

void SignalSource::wait() {
    signals_.async_wait([weak = weak_from_this()](const std::error_code& error, int number) {
        const auto self = weak.lock();
        if (error || !self) {
            return;
        }
        self->queue_->post(whileAlive(self, [number](SignalSource& source) {
            if (source.onSignal_) {
                source.onSignal_(number);
            }
        }));
        self->wait();
    });
}

void SignalSource::ignoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace velm
