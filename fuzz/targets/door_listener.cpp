// The door listener's flow table on virtual time, fed by a few loopback peers. Each step of the
// input sends a datagram from a peer, answers or forgets the oldest offer, or lets time pass.
// Only knock-sized datagrams reach the owner, and each peer's in the order it sent them.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "platform/dispatch/ManualQueue.h"
#include "transport/away/door/Door.h"
#include "transport/away/door/DoorListener.h"

#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velm::fuzz {
namespace {

enum Step : std::uint8_t { sendStep, answerStep, waitStep, steps };

constexpr std::size_t peerCount = 6;
constexpr std::uint8_t probeMark = 0xFF;

int loopbackSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
}

void sendTo(int fd, std::uint16_t port, ByteView datagram) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&address),
             sizeof address);
}

void drain(int fd) {
    std::array<std::uint8_t, 2048> buffer{};
    while (::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
    }
}

struct Offer {
    std::uint8_t peer;
    DoorListener::Reply reply;
};

class Harness {
public:
    explicit Harness(const std::array<int, peerCount + 1>& sockets) : sockets_(sockets) {
        listener_->setOnPort([this](std::optional<std::uint16_t> bound) { port_ = bound.value_or(0); });
        listener_->setOnDatagram(
            [this](Bytes datagram, DoorListener::Reply reply) { offered(datagram, std::move(reply)); });
        listener_->open(std::nullopt);
        pumpUntil([this] { return port_.has_value(); });
    }

    ~Harness() {
        listener_->close();
        queue_->runUntilIdle();
    }

    bool ready() const { return port_.value_or(0) != 0; }

    void sendFrom(std::uint8_t peer, bool knockSized, ByteView bytes) {
        Bytes datagram(bytes.begin(), bytes.end());
        if (knockSized) {
            datagram.resize(Door::knockLength);
            datagram[0] = peer;
            const std::uint32_t sequence = ++sent_[peer];
            std::memcpy(datagram.data() + 1, &sequence, sizeof sequence);
        }
        sendTo(sockets_[peer], *port_, datagram);
    }

    void answerOldest(bool withBytes) {
        if (offers_.empty()) {
            return;
        }
        Offer offer = std::move(offers_.front());
        offers_.pop_front();
        offer.reply(withBytes ? std::optional(Bytes(Door::replyLength, 1)) : std::nullopt);
    }

    void advance(std::chrono::milliseconds time) { queue_->advance(time); }

    // Everything sent so far has been read: the probe sent after it has arrived.
    void settle() {
        Bytes probe(Door::knockLength, 0);
        probe[0] = probeMark;
        const std::size_t before = probes_;
        sendTo(sockets_[peerCount], *port_, probe);
        pumpUntil([&] { return probes_ > before; });
    }

private:
    template <typename Done> void pumpUntil(Done done) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (true) {
            queue_->runUntilIdle();
            if (done() || std::chrono::steady_clock::now() > giveUp) {
                return;
            }
            std::this_thread::yield();
        }
    }

    void offered(const Bytes& datagram, DoorListener::Reply reply) {
        if (datagram.size() != Door::knockLength) {
            std::abort();
        }
        const std::uint8_t peer = datagram[0];
        if (peer == probeMark) {
            ++probes_;
            reply(std::nullopt);
            return;
        }
        std::uint32_t sequence = 0;
        std::memcpy(&sequence, datagram.data() + 1, sizeof sequence);
        if (peer >= peerCount || sequence <= delivered_[peer]) {
            std::abort(); // a peer's datagrams come in order, each at most once
        }
        delivered_[peer] = sequence;
        offers_.push_back({peer, std::move(reply)});
    }

    const std::array<int, peerCount + 1>& sockets_;
    std::shared_ptr<ManualQueue> queue_ = std::make_shared<ManualQueue>("door");
    std::shared_ptr<DoorListener> listener_ = DoorListener::make(queue_);
    std::optional<std::uint16_t> port_;
    std::array<std::uint32_t, peerCount> sent_{};
    std::array<std::uint32_t, peerCount> delivered_{};
    std::deque<Offer> offers_;
    std::size_t probes_ = 0;
};

} // namespace

std::vector<Bytes> seeds() {
    FuzzScript script;
    for (std::uint8_t peer = 0; peer < 3; ++peer) {
        script.byte(sendStep).byte(peer).byte(1);
    }
    script.byte(sendStep).byte(0).byte(0).piece(Bytes(12, 3)); // not a knock: the flow goes
    script.byte(answerStep).byte(1).byte(waitStep).byte(130).byte(answerStep).byte(0);
    return {script.take()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    static const auto sockets = [] {
        std::array<int, peerCount + 1> all{};
        for (int& fd : all) {
            fd = loopbackSocket();
        }
        return all;
    }();
    for (const int fd : sockets) {
        drain(fd);
    }
    Harness harness(sockets);
    if (!harness.ready()) {
        return;
    }
    FuzzInput input(data, size);
    for (int count = 0; !input.empty() && count < 64; ++count) {
        switch (input.byte() % steps) {
        case sendStep: {
            const auto peer = static_cast<std::uint8_t>(input.byte() % peerCount);
            const bool knockSized = input.flag();
            velm::ByteView other = knockSized ? velm::ByteView() : input.piece();
            // Any size but a knock's, which would pass for one.
            other = other.first(std::min<std::size_t>(other.size(), 512));
            harness.sendFrom(peer, knockSized,
                             other.size() == velm::Door::knockLength ? other.first(1) : other);
            break;
        }
        case answerStep:
            harness.settle();
            harness.answerOldest(input.flag());
            break;
        case waitStep:
            harness.settle();
            harness.advance(std::chrono::milliseconds(50) * input.byte());
            break;
        }
    }
    harness.settle();
}

} // namespace velm::fuzz
