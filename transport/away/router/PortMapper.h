#pragma once

#include "platform/dispatch/Queue.h"
#include "transport/away/router/PortMapperFailure.h"
#include "transport/away/router/PortMapperGateway.h"
#include "transport/away/router/PortMapperResult.h"
#include "transport/away/router/RouterClient.h"
#include "transport/away/router/RouterRequest.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace velm {

// The host's client of the home router's UPnP Internet Gateway Device: learns
// the router's external address and opens, renews and closes port mappings.
// It finds the router once and remembers it until an exchange fails, sends
// SOAP actions strictly one at a time in the order they were asked for, and
// applies the router's error codes: 501 (busy) is retried after a pause, 725
// (only permanent leases) switches every later mapping to lease 0, and 718
// (conflict) makes `map(transport, port, ...)` try random external ports.
//
// Every operation may be called from any thread; the work runs on the queue
// given at construction and every completion is called on that queue. Once the
// mapper is destroyed no completion runs.
class PortMapper : public std::enable_shared_from_this<PortMapper> {
public:
    enum class Transport { udp, tcp };

    using Failure = PortMapperFailure;
    using Gateway = PortMapperGateway;
    template <class T> using Result = PortMapperResult<T>;
    using Clock = Queue::Clock;
    using Lease = std::chrono::duration<double>;

    // The time limits; tests shorten them.
    struct Timing {
        Clock::duration searchLimit = std::chrono::seconds(3);
        Clock::duration exchangeLimit = std::chrono::seconds(5);
        // The pause before an action the router called failed (501) is sent again.
        Clock::duration busyPause = std::chrono::milliseconds(1200);
    };

    // UPnP error codes with a rule of their own.
    static constexpr std::int64_t actionFailed = 501;
    static constexpr std::int64_t conflict = 718;
    static constexpr std::int64_t onlyPermanentLeases = 725;
    // The router holds no such mapping.
    static constexpr std::int64_t noSuchEntry = 714;
    static constexpr int busyRetries = 5;
    static constexpr int conflictRetries = 5;
    static constexpr std::uint16_t randomPortBase = 20000;
    static constexpr std::uint32_t randomPortSpan = 28000;
    // A SOAP answer larger than this is refused.
    static constexpr std::size_t replyLimit = 64 * 1024;

    static std::shared_ptr<PortMapper> make(std::string label, std::shared_ptr<Queue> queue,
                                            std::shared_ptr<RouterClient> client, Timing timing);
    static std::shared_ptr<PortMapper> make(std::string label, std::shared_ptr<Queue> queue,
                                            std::shared_ptr<RouterClient> client) {
        return make(std::move(label), std::move(queue), std::move(client), Timing{});
    }

    // "UDP" or "TCP", the NewProtocol argument.
    static std::string_view rawValue(Transport transport);
    static std::optional<Transport> transportFrom(std::string_view rawValue);

    // The remembered router, or the result of a new search.
    void currentGateway(std::function<void(Result<Gateway>)> done);
    void forgetGateway();
    // The router's external IPv4 address as the router writes it; judge it with isPublicAddress.
    void externalAddress(std::function<void(Result<std::string>)> done);
    // Maps `external` on the router to `internal` on this computer.
    void map(Transport transport, std::uint16_t external, std::uint16_t internal, Lease lease,
             std::function<void(Result<std::monostate>)> done);
    // Called on the queue with each external port just before the router is asked to map it.
    using Asking = std::function<void(std::uint16_t external)>;
    // Maps `port` to itself, or when the router reports a conflict, a random
    // external port to it; gives the external port actually mapped.
    void map(Transport transport, std::uint16_t port, Lease lease,
             std::function<void(Result<std::uint16_t>)> done, Asking asking = {});
    // Removes the mapping of an external port, and tells whether the router holds it no more: it
    // removed it, or had none. False when the router could not be asked, or kept the mapping.
    void unmap(Transport transport, std::uint16_t port, std::function<void(bool gone)> done = {});
    // Queues one SOAP action; gives the answer's text.
    void soap(std::string action, SoapArguments arguments, std::function<void(Result<std::string>)> done);

    // False for addresses that cannot be reached from the Internet (private,
    // loopback, link-local, shared address space, multicast and reserved) and
    // for anything that is not a canonical dotted IPv4 address.
    static bool isPublicAddress(std::string_view address);

    // The lease in whole seconds as the router takes it: truncated, at least 1,
    // at most the largest unsigned 32-bit value.
    static std::int64_t wholeSeconds(Lease lease);

private:
    using Reply = std::function<void(Result<std::string>)>;

    struct SoapCall {
        std::string action;
        SoapArguments arguments;
        Reply done;
    };

    PortMapper(std::string label, std::shared_ptr<Queue> queue, std::shared_ptr<RouterClient> client,
               Timing timing);

    // Runs `step` on the queue while the mapper is alive.
    template <class Step> void onQueue(Step step);
    // A completion for the router client that hops back onto the queue.
    template <class Value, class Step> std::function<void(Value)> later(Step step);

    void lookUpGateway(std::function<void(Result<Gateway>)> done);
    void mapPort(Transport transport, std::uint16_t external, std::uint16_t internal, Lease lease,
                 std::function<void(Result<std::monostate>)> done);
    void mapAnyPort(Transport transport, std::uint16_t port, std::uint16_t external, int retries, Lease lease,
                    std::function<void(Result<std::uint16_t>)> done, Asking asking);
    void enqueueSoap(SoapCall call);
    void runNextSoap();
    void soapWithRetry(const SoapCall& call, int attempt, Reply done);
    void soapOnce(const SoapCall& call, Reply done);

    // Internal continuations capture `this`: they run only inside a step that
    // holds the mapper alive (onQueue, later or a continuation of those).
    std::optional<Gateway> gateway_;
    bool leasesArePermanent_ = false;
    std::deque<SoapCall> soapCalls_;
    bool soapRunning_ = false;
    const std::string label_;
    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<RouterClient> client_;
    const Timing timing_;
};

} // namespace velm
