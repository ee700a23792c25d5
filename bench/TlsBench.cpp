// Bulk transfer and connect-to-ready time of TlsConnection, each as a ratio to the same
// work done with bare blocking OpenSSL over loopback in the same run. Every measurement
// uses the same bare OpenSSL peer, so that only the end under test changes.
#include "bench/BareTls.h"
#include "bench/ConnectChain.h"
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

void ConnectionHandshake(benchmark::State& state) {
    const TlsParameters parameters({TlsKey{identity, SecretBytes(key)}});
    BareServer server(BareServer::Mode::handshakeOnly);
    bench::timeConnectChains(
        state,
        [&](const std::shared_ptr<Queue>& queue, std::function<void(bool)> settled) {
            auto connection = TlsConnection::connect(server.endpoint(), parameters);
            connection->setOnState([settled = std::move(settled)](TlsConnection::State reached, const auto&) {
                if (reached != TlsConnection::State::preparing) {
                    settled(reached == TlsConnection::State::ready);
                }
            });
            connection->start(queue);
            return connection;
        },
        "connection failed");
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
