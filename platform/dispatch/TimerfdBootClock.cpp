#include "platform/dispatch/TimerfdBootClock.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/ScheduledCall.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <asio/dispatch.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace velm {
namespace {

const Log log("dispatch");

using Descriptor = asio::posix::stream_descriptor;

// A zero time would disarm the timer rather than fire it at once.
itimerspec expiryAfter(std::chrono::nanoseconds delay) {
    const auto wait = std::max(delay, std::chrono::nanoseconds(1));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    itimerspec expiry{};
    expiry.it_value.tv_sec = static_cast<std::time_t>(seconds.count());
    expiry.it_value.tv_nsec = static_cast<long>((wait - seconds).count());
    return expiry;
}

// An armed timer file owned by a descriptor on a strand of its own, or nothing (the reason is logged).
std::shared_ptr<Descriptor> armedTimer(std::chrono::nanoseconds delay) {
    const int fd = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) {
        log.error("no boot-time timer: %s", std::strerror(errno));
        return nullptr;
    }
    const auto expiry = expiryAfter(delay);
    if (::timerfd_settime(fd, 0, &expiry, nullptr) != 0) {
        log.error("can't arm a boot-time timer: %s", std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    auto timer = std::make_shared<Descriptor>(asio::make_strand(IoPool::shared().context()));
    std::error_code error;
    timer->assign(fd, error);
    if (error) {
        log.error("can't watch a boot-time timer: %s", error.message().c_str());
        ::close(fd);
        return nullptr;
    }
    return timer;
}

// Readable means expired; a read that finds nothing (none is expected) waits again.
void awaitExpiry(const std::shared_ptr<Descriptor>& timer, std::function<void()> expired) {
    timer->async_wait(Descriptor::wait_read,
                      [timer, expired = std::move(expired)](const std::error_code& error) {
                          if (error) {
                              return;
                          }
                          std::uint64_t expiries = 0;
                          if (::read(timer->native_handle(), &expiries, sizeof expiries) < 0 &&
                              (errno == EAGAIN || errno == EINTR)) {
                              awaitExpiry(timer, expired);
                              return;
                          }
                          expired();
                      });
}

} // namespace

WorkItem TimerfdBootClock::postAfter(std::shared_ptr<Queue> queue, std::chrono::nanoseconds delay,
                                     std::function<void()> work) {
    auto timer = armedTimer(delay);
    if (!timer) {
        // Late after a suspend is still better than never.
        return queue->postAfter(std::chrono::duration_cast<Queue::Clock::duration>(delay), std::move(work));
    }
    auto call = std::make_shared<ScheduledCall>(std::move(work));
    // The timer file closes when the pending wait ends, which cancelling brings about at once.
    call->setOnCancel([timer] {
        asio::post(timer->get_executor(), [timer] {
            std::error_code ignored;
            timer->cancel(ignored);
        });
    });
    asio::dispatch(timer->get_executor(), [timer, call, queue = std::move(queue)] {
        awaitExpiry(timer, [call, queue] {
            // Taken on the queue, so that a cancel up to the moment the work starts still holds.
            queue->post([call] {
                if (auto due = call->take()) {
                    (*due)();
                }
            });
        });
    });
    return WorkItem(std::move(call));
}

} // namespace velm
