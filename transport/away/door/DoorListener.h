#pragma once

#include "platform/core/Bytes.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/net/NetError.h"
#include "platform/net/SocketAddress.h"
#include "platform/net/UdpSocket.h"
#include "transport/away/door/Door.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace velm {

// The UDP socket behind one door port (IPv4). It hands every datagram that may be a
// knock (exactly 93 bytes) to its owner with a way to answer that peer, and reports
// the port it is bound to. Everything else is dropped unread by anyone.
//
// Peers are kept as flows: one remote address and port, born on its first datagram
// and forgotten 6 s later, or earlier when a datagram of another size comes, the
// owner answers without bytes, the 49th peer arrives (the oldest goes) or the door
// closes. A flow offers one datagram at a time: the next is offered only once the
// previous one was answered with bytes; the few that arrive meanwhile wait, and
// more than that are dropped. So the table is bounded whatever arrives.
//
// A socket that fails while it waits is opened again on the same port, a few times
// with a pause between; only when it keeps failing is the door reported as unable to
// listen, and its flows are forgotten. Answers given meanwhile are held (the newest
// few) and sent once the socket is open again.
//
// Everything runs on the owner's queue, and both callbacks are called on it.
class DoorListener : public std::enable_shared_from_this<DoorListener> {
public:
    // Sends the bytes back to the peer as one datagram, or with nothing forgets the
    // peer. Callable from any thread; only its first call counts.
    using Reply = std::function<void(std::optional<Bytes>)>;
    using DatagramHandler = std::function<void(Bytes datagram, Reply reply)>;
    // The bound port once listening, or nothing when the door cannot listen.
    using PortHandler = std::function<void(std::optional<std::uint16_t>)>;

    static constexpr std::size_t maxFlows = 48;
    static constexpr Queue::Clock::duration flowLifetime = std::chrono::seconds(6);
    // Datagrams a flow holds while its owner has not answered the one offered.
    static constexpr std::size_t maxWaitingDatagrams = 4;
    // Openings of a failed socket before the door is given up; a datagram read starts the count again.
    static constexpr int reopenTries = 3;
    static constexpr Queue::Clock::duration reopenPause = std::chrono::seconds(1);
    // Answers held while a failed socket waits to be opened again.
    static constexpr std::size_t maxHeldReplies = 4;

    static std::shared_ptr<DoorListener> make(std::shared_ptr<Queue> queue);
    ~DoorListener();
    DoorListener(const DoorListener&) = delete;
    DoorListener& operator=(const DoorListener&) = delete;

    // Set before open(), or on the queue. While one is absent, what it would have
    // received is dropped (a datagram then drops its flow).
    void setOnDatagram(DatagramHandler handler) { onDatagram_ = std::move(handler); }
    void setOnPort(PortHandler handler) { onPort_ = std::move(handler); }

    // On the queue: closes whatever is open, then listens on `port` (any port when
    // absent). The outcome arrives through the port handler. The socket does not share its port
    // with any other socket, so no other local program can read the knocks.
    void open(std::optional<std::uint16_t> port);
    // On the queue: stops listening and forgets every flow; pending replies do nothing.
    void close();

private:
    // Datagrams longer than a knock are read cut to one byte more, which is enough to know
    // they are not knocks.
    static constexpr std::size_t readSize = Door::knockLength + 1;

    struct Flow {
        std::uint64_t serial = 0;
        // The number of the datagram offered and not yet answered; absent while reading.
        std::optional<std::uint64_t> offered;
        std::uint64_t offers = 0;
        // Datagrams that came while one was offered; absent for one of another size.
        std::deque<std::optional<Bytes>> waiting;
        WorkItem expiry;
    };

    struct HeldReply {
        SocketAddress peer;
        Bytes bytes;
    };

    explicit DoorListener(std::shared_ptr<Queue> queue);

    void openNow(std::optional<std::uint16_t> port);
    void closeNow();
    void forgetFlows();
    void receive();
    void received(std::uint64_t generation, const UdpSocket::Datagram& datagram,
                  const std::optional<NetError>& error);
    void report(std::optional<std::uint16_t> port);
    void failed(const NetError& error);
    void reopenLater();
    void reopen();
    void send(const SocketAddress& peer, Bytes reply);
    void sendHeldReplies();
    Flow& flowFor(const SocketAddress& peer);
    void take(const SocketAddress& peer, std::optional<Bytes> datagram);
    void offer(const SocketAddress& peer, Flow& flow, std::optional<Bytes> datagram);
    void answer(const SocketAddress& peer, std::uint64_t serial, std::uint64_t number,
                std::optional<Bytes> reply);
    void expire(const SocketAddress& peer, std::uint64_t serial);
    void drop(const SocketAddress& peer);

    std::shared_ptr<Queue> queue_;
    DatagramHandler onDatagram_;
    PortHandler onPort_;
    std::optional<UdpSocket> socket_;
    // The port the door listens on, for opening a failed socket again.
    std::uint16_t port_ = 0;
    // Openings since the socket last failed, without a datagram read in between.
    int reopenings_ = 0;
    WorkItem reopening_;
    // Counts opens and closes, so completions from an older socket are dropped.
    std::uint64_t generation_ = 0;
    std::uint64_t flowSerial_ = 0;
    std::map<SocketAddress, Flow> flows_;
    std::deque<SocketAddress> arrivalOrder_;
    std::deque<HeldReply> heldReplies_;
};

} // namespace velm
