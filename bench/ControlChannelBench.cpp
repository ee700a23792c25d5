// Bulk transfer on the file channel and connect-to-ready time of ControlChannel, each as a
// ratio to the same work done with bare blocking OpenSSL over loopback, with the same suite,
// in the same run.
#include "bench/BareTls.h"
#include "bench/RatioReporter.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/TlsListener.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/VelmService.h"

#include <benchmark/benchmark.h>
#include <condition_variable>
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
    auto queue = Queue::make("bench.client");
    for (auto _ : state) {
        auto client = ControlChannel::outgoing(Endpoint{server.endpoint()}, benchKey());
        auto tally = std::make_shared<Tally>();
        track(*client, tally);
        client->start(queue);
        tally->waitFor([&] { return tally->ready || tally->closed; });
        if (!tally->ready) {
            state.SkipWithError("channel did not connect");
            break;
        }
    }
}

BENCHMARK(BareBulk)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ChannelSend)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ChannelToChannel)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BareHandshake)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ChannelConnect)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace velm

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Throughput as our rate / bare rate; connecting as our time / bare time.
    velm::RatioReporter::printRatio("file-channel send throughput, ControlChannel / bare OpenSSL",
                                    reporter.rateRatio("ChannelSend", "BareBulk"), "target >= 0.80");
    velm::RatioReporter::printRatio("file-channel throughput end to end, ControlChannel / bare OpenSSL",
                                    reporter.rateRatio("ChannelToChannel", "BareBulk"));
    velm::RatioReporter::printRatio("connect to ready, ControlChannel / bare OpenSSL",
                                    reporter.timeRatio("ChannelConnect", "BareHandshake"), "target <= 1.30");
    benchmark::Shutdown();
    return 0;
}
