// Bulk transfer and connect-to-ready time of TlsConnection, each as a ratio to the same
// work done with bare blocking OpenSSL over loopback in the same run. Every measurement
// uses the same bare OpenSSL peer, so that only the end under test changes.
#include "bench/BareTls.h"
#include "bench/RatioReporter.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/TlsConnection.h"
#include "platform/net/TlsListener.h"
#include "platform/net/TlsParameters.h"

#include <benchmark/benchmark.h>
#include <condition_variable>
#include <future>
#include <mutex>
#include <openssl/ssl.h>
#include <set>
#include <thread>

namespace {

using namespace velm;

constexpr std::size_t writeSize = 256 * 1024;
constexpr std::size_t bytesPerRound = 64 * writeSize; // 16 MiB
constexpr std::size_t readSize = bench::bareReadSize;
constexpr std::size_t sendsInFlight = 8; // 2 MiB: well inside the backlog cap
const char* const identity = bench::bareIdentity;
const Bytes& key = bench::bareKey();

using bench::BareClient;
using bench::bareContext;
using bench::BareServer;

// --- bare OpenSSL ---------------------------------------------------------------------

void BareBulk(benchmark::State& state) {
    bench::runBareBulk(state, writeSize, bytesPerRound);
}

void BareHandshake(benchmark::State& state) {
    bench::runBareHandshake(state);
}

// --- TlsConnection --------------------------------------------------------------------

// A TlsListener whose connections are started and read until they end.
class ConnectionServer {
public:
    explicit ConnectionServer(const TlsParameters& parameters)
        : listener_(TlsListener::make(parameters, std::nullopt)) {
        std::promise<void> ready;
        listener_->setOnState(
            [&ready, once = std::make_shared<std::once_flag>()](TlsListener::State, const auto&) {
                std::call_once(*once, [&] { ready.set_value(); });
            });
        listener_->setOnConnection(
            [weak = std::weak_ptr(shared_), queue = queue_](std::shared_ptr<TlsConnection> connection) {
                if (auto shared = weak.lock()) {
                    std::lock_guard guard(shared->lock);
                    shared->open.insert(connection);
                }
                connection->start(queue);
                readFrom(connection, weak);
            });
        listener_->start(queue_);
        ready.get_future().wait();
        listener_->setOnState(nullptr);
    }

    ~ConnectionServer() { listener_->setOnConnection(nullptr); }

    std::uint16_t port() const { return listener_->port(); }

private:
    struct Shared {
        std::mutex lock;
        std::set<std::shared_ptr<TlsConnection>> open;
    };

    static void readFrom(const std::weak_ptr<TlsConnection>& connection, const std::weak_ptr<Shared>& weak) {
        auto strong = connection.lock();
        if (!strong) {
            return;
        }
        strong->receive(1, readSize, [connection, weak](Bytes, bool isComplete, const auto& error) {
            auto shared = weak.lock();
            if (!shared) {
                return;
            }
            if (isComplete || error) {
                std::lock_guard guard(shared->lock);
                shared->open.erase(connection.lock());
                return;
            }
            readFrom(connection, weak);
        });
    }

    std::shared_ptr<Queue> queue_ = Queue::make("bench.server");
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::shared_ptr<TlsListener> listener_;
};

bool waitUntilReady(TlsConnection& connection, const std::shared_ptr<Queue>& queue) {
    auto result = std::make_shared<std::promise<bool>>();
    auto future = result->get_future();
    connection.setOnState([result](TlsConnection::State state, const auto&) {
        if (state == TlsConnection::State::ready) {
            result->set_value(true);
        } else if (state != TlsConnection::State::preparing) {
            result->set_value(false);
        }
    });
    connection.start(queue);
    const bool ready = future.get();
    connection.setOnState(nullptr);
    return ready;
}

void ConnectionBulk(benchmark::State& state) {
    const TlsParameters parameters({TlsKey{identity, SecretBytes(key)}});
    BareServer server(BareServer::Mode::readUntilClose);
    auto queue = Queue::make("bench.client");
    auto client = TlsConnection::connect(server.endpoint(), parameters);
    if (!waitUntilReady(*client, queue)) {
        state.SkipWithError("connection failed");
        return;
    }
    const Bytes chunk(writeSize, 0x5a);
    std::mutex lock;
    std::condition_variable done;
    std::size_t completed = 0;
    for (auto _ : state) {
        // A window of sends in flight, refilled from each completion, like a paced sender.
        std::size_t issued = 0;
        const std::size_t sendsPerRound = bytesPerRound / writeSize;
        std::unique_lock guard(lock);
        completed = 0;
        auto sendOne = [&] {
            ++issued;
            client->send(chunk, [&](const auto&) {
                {
                    std::lock_guard inner(lock);
                    ++completed;
                }
                done.notify_all();
            });
        };
        while (issued < sendsPerRound) {
            while (issued < sendsPerRound && issued - completed < sendsInFlight) {
                sendOne();
            }
            done.wait(guard, [&] { return issued - completed < sendsInFlight; });
        }
        done.wait(guard, [&] { return completed == issued; });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesPerRound));
    client->forceCancel();
}

// Connects again and again from a queue, as an owner does: each connection is made and
// started on the queue that hears its ready, so the time is connect-to-ready as that
// owner sees it, without a hop to and from the benchmark's own thread per connection.
class HandshakeChain : public std::enable_shared_from_this<HandshakeChain> {
public:
    HandshakeChain(const TlsParameters& parameters, HostPort endpoint, int length)
        : parameters_(parameters), endpoint_(std::move(endpoint)), remaining_(length) {}

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
        current_ = TlsConnection::connect(endpoint_, parameters_);
        current_->setOnState([weak = weak_from_this()](TlsConnection::State state, const auto&) {
            auto self = weak.lock();
            if (!self || state == TlsConnection::State::preparing) {
                return;
            }
            if (state == TlsConnection::State::ready) {
                self->next();
            } else {
                self->current_.reset();
                self->done_.set_value(false);
            }
        });
        current_->start(queue_);
    }

    const TlsParameters& parameters_;
    HostPort endpoint_;
    int remaining_;
    std::shared_ptr<Queue> queue_ = Queue::make("bench.client");
    std::shared_ptr<TlsConnection> current_;
    std::promise<bool> done_;
};

void ConnectionHandshake(benchmark::State& state) {
    constexpr int chainLength = 16;
    const TlsParameters parameters({TlsKey{identity, SecretBytes(key)}});
    BareServer server(BareServer::Mode::handshakeOnly);
    for (auto _ : state) {
        auto chain = std::make_shared<HandshakeChain>(parameters, server.endpoint(), chainLength);
        const auto started = std::chrono::steady_clock::now();
        if (!chain->run()) {
            state.SkipWithError("connection failed");
            break;
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        state.SetIterationTime(elapsed.count() / chainLength);
    }
}

void ListenerHandshake(benchmark::State& state) {
    ConnectionServer server(TlsParameters({TlsKey{identity, SecretBytes(key)}}));
    SSL_CTX* context = bareContext();
    for (auto _ : state) {
        BareClient client(context, server.port());
        if (!client.ready) {
            state.SkipWithError("handshake with the listener failed");
            break;
        }
    }
    SSL_CTX_free(context);
}

BENCHMARK(BareBulk)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ConnectionBulk)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BareHandshake)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ConnectionHandshake)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ListenerHandshake)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Throughput as our rate / bare rate; handshakes as our time / bare time.
    velm::RatioReporter::printRatio("bulk throughput, TlsConnection / bare OpenSSL",
                                    reporter.rateRatio("ConnectionBulk", "BareBulk"), "target >= 0.80");
    velm::RatioReporter::printRatio("connect to ready, TlsConnection / bare OpenSSL",
                                    reporter.timeRatio("ConnectionHandshake", "BareHandshake"),
                                    "target <= 1.30");
    velm::RatioReporter::printRatio("handshake served, TlsListener / bare OpenSSL",
                                    reporter.timeRatio("ListenerHandshake", "BareHandshake"),
                                    "target <= 1.30");
    benchmark::Shutdown();
    return 0;
}
