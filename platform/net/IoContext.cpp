#include "platform/net/IoContext.h"

#include <asio/executor_work_guard.hpp>

#include <thread>
#include <vector>

namespace velm {

namespace {

class IoRunner {
public:
    static constexpr int threadCount = 2;

    IoRunner() : work_(asio::make_work_guard(context_))
    {
        for (int i = 0; i < threadCount; ++i) {
            threads_.emplace_back([this] { context_.run(); });
        }
    }

    ~IoRunner()
    {
        work_.reset();
        context_.stop();
        for (auto& thread : threads_) {
            thread.join();
        }
    }

    IoRunner(const IoRunner&) = delete;
    IoRunner& operator=(const IoRunner&) = delete;

    asio::io_context& context() { return context_; }

private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::vector<std::thread> threads_;
};

} // namespace

asio::io_context& ioContext()
{
    static IoRunner runner;
    return runner.context();
}

} // namespace velm
