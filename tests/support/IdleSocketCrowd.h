#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace velm::test {

// A peer without a key that holds every place it can get: sockets to a port on 127.0.0.1 that
// connect and then say nothing, each opened again from its address the moment the far end closes
// it. They run on a thread of their own until the crowd is destroyed.
class IdleSocketCrowd {
public:
    // `perSource` sockets from each of `sources` (loopback addresses), opened `mostOpenings` times in
    // all at most: then those that close stay closed.
    IdleSocketCrowd(std::uint16_t port, const std::vector<std::string>& sources, std::size_t perSource,
                    std::size_t mostOpenings = 100'000);
    ~IdleSocketCrowd();
    IdleSocketCrowd(const IdleSocketCrowd&) = delete;
    IdleSocketCrowd& operator=(const IdleSocketCrowd&) = delete;

    // 127.0.0.2, 127.0.0.3, ...: `count` peers of their own, since all of 127.0.0.0/8 is loopback.
    static std::vector<std::string> loopbackSources(std::size_t count);

    // Connections opened so far, the first ones included.
    std::size_t opened() const { return opened_.load(); }
    // Every opening is spent.
    bool isSpent() const { return opened() >= mostOpenings_; }

private:
    struct Member {
        std::string source;
        int fd = -1;
    };

    void run();
    void open(Member& member);

    const std::uint16_t port_;
    const std::size_t mostOpenings_;
    std::vector<Member> members_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> opened_{0};
    std::thread thread_;
};

} // namespace velm::test
