// ControlChannel against bare blocking OpenSSL over loopback with the same suite, in the same
// run: the round trip of a ping answered by a pong, a stream of small input frames, bulk
// transfer on the file channel, and connect-to-ready time.
#include "bench/BareTls.h"
#include "bench/ConnectChain.h"
#include "bench/RatioReporter.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/TlsListener.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/VelmService.h"

#include <benchmark/benchmark.h>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>

namespace velm {
namespace {

using bench::BareClient;
using bench::BareServer;

constexpr std::size_t chunkSize = 256 * 1024;         // the file sender's chunk
constexpr std::size_t bytesPerRound = 64 * chunkSize; // 16 MiB

PreSharedKey benchKey() {
    return *PreSharedKey::forDevice(bench::bareIdentity, bench::bareKey());
}

void BareBulk(benchmark::State& state) {
    bench::runBareBulk(state, chunkSize, bytesPerRound);
}

void BareHandshake(benchmark::State& state) {
    bench::runBareHandshake(state);
}

// Counts what arrives and lets the benchmark wait for a total.
struct Tally {
    std::mutex lock;
    std::condition_variable changed;
    std::size_t bytes = 0;
    bool ready = false;
    bool closed = false;

    void waitFor(const std::function<bool()>& condition) {
        std::unique_lock guard(lock);
        changed.wait(guard, condition);
    }
    void update(const std::function<void()>& change) {
        {
            std::lock_guard guard(lock);
            change();
        }
        changed.notify_all();
    }
};

void track(ControlChannel& channel, const std::shared_ptr<Tally>& tally) {
    channel.setOnEvent([tally](ControlChannel::Event event) {
        tally->update([&] {
            if (const auto* file = event.get<ControlChannel::Event::File>()) {
                tally->bytes += file->data.size();
            } else if (event.get<ControlChannel::Event::Ready>()) {
                tally->ready = true;
            } else if (event.get<ControlChannel::Event::Closed>()) {
                tally->closed = true;
            }
        });
    });
}

// The host's end: a listener whose accepted channels count the file bytes they receive.
class ChannelServer {
public:
    ChannelServer() : listener_(TlsListener::make(VelmService::tlsParameters({benchKey()}), std::nullopt)) {
        listener_->setOnConnection([this](std::shared_ptr<TlsConnection> connection) {
            auto channel = ControlChannel::accepted(std::move(connection));
            track(*channel, received_);
            channel->start(queue_);
            std::lock_guard guard(lock);
            channels_.push_back(std::move(channel));
        });
        auto started = std::make_shared<Tally>();
        listener_->setOnState(
            [started](TlsListener::State, const auto&) { started->update([&] { started->ready = true; }); });
        listener_->start(queue_);
        started->waitFor([&] { return started->ready; });
    }
    ~ChannelServer() {
        listener_->setOnConnection(nullptr);
        std::lock_guard guard(lock);
        for (const auto& channel : channels_) {
            channel->cancel();
        }
    }

    Endpoint endpoint() const { return Endpoint::hostPort("127.0.0.1", listener_->port()); }
    Tally& received() { return *received_; }

private:
    std::shared_ptr<Queue> queue_ = Queue::make("bench.host");
    std::shared_ptr<Tally> received_ = std::make_shared<Tally>();
    std::mutex lock;
    std::vector<std::shared_ptr<ControlChannel>> channels_;
    std::shared_ptr<TlsListener> listener_;
};

// Sends `remaining` chunks one after another, each once the previous one has been handed to
// the network, as the file sender does; counts each in `sent`.
void sendChunks(std::weak_ptr<ControlChannel> weak, const Bytes& chunk, std::size_t remaining,
                std::shared_ptr<Tally> sent) {
    auto channel = weak.lock();
    if (!channel || remaining == 0) {
        return;
    }
    channel->sendFile(chunk, [weak, &chunk, remaining, sent](bool ok) {
        sent->update([&] {
            sent->bytes += chunk.size();
            sent->closed = !ok;
        });
        if (ok) {
            sendChunks(weak, chunk, remaining - 1, sent);
        }
    });
}

// Pushes 16 MiB per round through an outgoing channel to `endpoint`; a round ends once its
// last chunk is handed to the network and, when given, `delivered` says it arrived.
void pushRounds(benchmark::State& state, const Endpoint& endpoint,
                const std::function<bool(std::size_t total)>& delivered = {}) {
    auto queue = Queue::make("bench.client");
    auto client = ControlChannel::outgoing(endpoint, benchKey());
    auto events = std::make_shared<Tally>();
    track(*client, events);
    client->start(queue);
    events->waitFor([&] { return events->ready || events->closed; });
    if (!events->ready) {
        state.SkipWithError("channel did not connect");
        return;
    }
    const Bytes chunk(chunkSize, 0x5a);
    auto sent = std::make_shared<Tally>();
    std::size_t total = 0;
    for (auto _ : state) {
        total += bytesPerRound;
        queue->post([weak = std::weak_ptr(client), &chunk, sent] {
            sendChunks(weak, chunk, bytesPerRound / chunkSize, sent);
        });
        sent->waitFor([&] { return sent->bytes >= total || sent->closed; });
        if (sent->closed || (delivered && !delivered(total))) {
            state.SkipWithError("channel closed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesPerRound));
    client->cancel();
}

// Our sending end against the bare reader: the counterpart of BareBulk.
void ChannelSend(benchmark::State& state) {
    BareServer server(BareServer::Mode::readUntilClose);
    pushRounds(state, Endpoint{server.endpoint()});
}

// Both ends ours: what a file transfer between host and client costs.
void ChannelToChannel(benchmark::State& state) {
    ChannelServer server;
    pushRounds(state, server.endpoint(), [&](std::size_t total) {
        Tally& received = server.received();
        received.waitFor([&] { return received.bytes >= total || received.closed; });
        return !received.closed;
    });
}

void ChannelConnect(benchmark::State& state) {
    BareServer server(BareServer::Mode::handshakeOnly);
    const Endpoint endpoint{server.endpoint()};
    bench::timeConnectChains(
        state,
        [&](const std::shared_ptr<Queue>& queue, std::function<void(bool)> settled) {
            auto channel = ControlChannel::outgoing(endpoint, benchKey());
            channel->setOnEvent([settled = std::move(settled)](ControlChannel::Event event) {
                if (event.get<ControlChannel::Event::Ready>()) {
                    settled(true);
                } else if (event.get<ControlChannel::Event::Closed>()) {
                    settled(false);
                }
            });
            channel->start(queue);
            return channel;
        },
        "channel did not connect");
}

constexpr int roundTripsPerIteration = 100;
constexpr std::size_t smallFramesPerRound = 16384;

Bytes pingFrame() {
    return *ChannelFrame::encode(0, *ControlMessage::ping(1, 1000000).jsonEncoded());
}
Bytes pongFrame() {
    return *ChannelFrame::encode(0, *ControlMessage::pong(1, 1000000, 2000000).jsonEncoded());
}
// A text input whose frame is 64 bytes: 4 length bytes, the channel, the tag, a u16 count, 56 bytes.
InputEvent smallInput() {
    return InputEvent::textInput(std::string(56, 'a'));
}

void BareRoundTrip(benchmark::State& state) {
    bench::runBareRoundTrips(state, pingFrame().size(), pongFrame().size(), roundTripsPerIteration);
}

void BareSmallFrames(benchmark::State& state) {
    bench::runBareSmallWrites(state, ChannelFrame::encode(1, smallInput().encoded())->size(),
                              smallFramesPerRound);
}

// A connected pair of channels: `host` answers with `answer` on its queue, the client's events go
// to `onClientEvent` on the client's queue.
class ChannelPair {
public:
    using Handler = std::function<void(ControlChannel&, const ControlChannel::Event&)>;

    ChannelPair(Handler answer, Handler onClientEvent)
        : listener_(TlsListener::make(VelmService::tlsParameters({benchKey()}), std::nullopt)) {
        auto started = std::make_shared<Tally>();
        listener_->setOnState(
            [started](TlsListener::State, const auto&) { started->update([&] { started->ready = true; }); });
        auto accepted = std::make_shared<std::promise<std::shared_ptr<ControlChannel>>>();
        listener_->setOnConnection([this, accepted, answer](std::shared_ptr<TlsConnection> connection) {
            auto host = ControlChannel::accepted(std::move(connection));
            host->setOnEvent([weak = std::weak_ptr(host), answer](ControlChannel::Event event) {
                if (auto self = weak.lock()) {
                    answer(*self, event);
                }
            });
            host->start(hostQueue_);
            accepted->set_value(host);
        });
        listener_->start(hostQueue_);
        started->waitFor([&] { return started->ready; });
        client = ControlChannel::outgoing(Endpoint::hostPort("127.0.0.1", listener_->port()), benchKey());
        auto ready = std::make_shared<Tally>();
        client->setOnEvent([ready, onClientEvent, weak = std::weak_ptr(client)](ControlChannel::Event event) {
            if (event.get<ControlChannel::Event::Ready>() || event.get<ControlChannel::Event::Closed>()) {
                ready->update([&] {
                    ready->ready = event.get<ControlChannel::Event::Ready>() != nullptr;
                    ready->closed = !ready->ready;
                });
            } else if (auto self = weak.lock()) {
                onClientEvent(*self, event);
            }
        });
        client->start(clientQueue);
        ready->waitFor([&] { return ready->ready || ready->closed; });
        host_ = accepted->get_future().get();
        connected = ready->ready;
    }
    ~ChannelPair() {
        listener_->setOnConnection(nullptr);
        client->cancel();
        host_->cancel();
    }

    std::shared_ptr<Queue> clientQueue = Queue::make("bench.client");
    std::shared_ptr<ControlChannel> client;
    bool connected = false;

private:
    std::shared_ptr<Queue> hostQueue_ = Queue::make("bench.host");
    std::shared_ptr<TlsListener> listener_;
    std::shared_ptr<ControlChannel> host_;
};

// Each pong sends the next ping from the client's queue until the iteration's count is done.
void ChannelRoundTrip(benchmark::State& state) {
    auto done = std::make_shared<Tally>();
    auto remaining = std::make_shared<int>(0);
    ChannelPair pair(
        [](ControlChannel& host, const ControlChannel::Event& event) {
            const auto* control = event.get<ControlChannel::Event::Control>();
            if (const auto* ping = control ? control->message.get<ControlMessage::Ping>() : nullptr) {
                host.send(ControlMessage::pong(ping->id, ping->clientTime, 2000000));
            }
        },
        [done, remaining](ControlChannel& client, const ControlChannel::Event& event) {
            if (!event.get<ControlChannel::Event::Control>()) {
                return;
            }
            if (--*remaining > 0) {
                client.send(ControlMessage::ping(1, 1000000));
            } else {
                done->update([&] { ++done->bytes; });
            }
        });
    if (!pair.connected) {
        state.SkipWithError("channel did not connect");
        return;
    }
    std::size_t rounds = 0;
    for (auto _ : state) {
        pair.clientQueue->post([&pair, remaining] {
            *remaining = roundTripsPerIteration;
            pair.client->send(ControlMessage::ping(1, 1000000));
        });
        ++rounds;
        done->waitFor([&] { return done->bytes >= rounds; });
    }
}

// The client's queue sends a round of input frames at once; the host counts them as they arrive.
void ChannelSmallFrames(benchmark::State& state) {
    auto received = std::make_shared<Tally>();
    ChannelPair pair(
        [received](ControlChannel&, const ControlChannel::Event& event) {
            if (event.get<ControlChannel::Event::Input>()) {
                std::lock_guard guard(received->lock);
                if (++received->bytes % smallFramesPerRound == 0) {
                    received->changed.notify_all();
                }
            }
        },
        [](ControlChannel&, const ControlChannel::Event&) {});
    if (!pair.connected) {
        state.SkipWithError("channel did not connect");
        return;
    }
    const InputEvent event = smallInput();
    std::size_t total = 0;
    for (auto _ : state) {
        pair.clientQueue->post([&pair, &event] {
            for (std::size_t sent = 0; sent < smallFramesPerRound; ++sent) {
                pair.client->send(event);
            }
        });
        total += smallFramesPerRound;
        received->waitFor([&] { return received->bytes >= total; });
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * smallFramesPerRound));
}

BENCHMARK(BareRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ChannelRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BareSmallFrames)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ChannelSmallFrames)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BareBulk)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ChannelSend)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ChannelToChannel)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BareHandshake)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ChannelConnect)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace velm

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Throughput as our rate / bare rate; round trips and connecting as our time / bare time.
    velm::RatioReporter::printRatio("ping-pong round trip, ControlChannel / bare OpenSSL",
                                    reporter.timeRatio("ChannelRoundTrip", "BareRoundTrip"),
                                    "target <= 1.25");
    velm::RatioReporter::printRatio("64-byte input frames, ControlChannel / bare OpenSSL",
                                    reporter.rateRatio("ChannelSmallFrames", "BareSmallFrames"),
                                    "target >= 0.80");
    velm::RatioReporter::printRatio("file-channel send throughput, ControlChannel / bare OpenSSL",
                                    reporter.rateRatio("ChannelSend", "BareBulk"), "target >= 0.80");
    velm::RatioReporter::printRatio("file-channel throughput end to end, ControlChannel / bare OpenSSL",
                                    reporter.rateRatio("ChannelToChannel", "BareBulk"), "target >= 0.80");
    velm::RatioReporter::printRatio("connect to ready, ControlChannel / bare OpenSSL",
                                    reporter.timeRatio("ChannelConnect", "BareHandshake"), "target <= 1.30");
    benchmark::Shutdown();
    return 0;
}
