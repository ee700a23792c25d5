#include "transport/away/router/PortMapper.h"

#include "platform/core/Utf8.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "platform/net/IpAddress.h"
#include "transport/away/router/TagScanner.h"

#include <charconv>
#include <limits>
#include <random>
#include <utility>

namespace velm {
namespace {

const Log logger("portmapper");

// A decimal integer with an optional sign, digits only, within 64 bits.
std::optional<std::int64_t> parseCode(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// A router's error code wins over its HTTP status.
PortMapperResult<std::string> readAnswer(const HttpResponse& response) {
    std::string text = Utf8::repaired(toString(response.body));
    if (const auto code = TagScanner::tagValue("errorCode", text)) {
        if (const auto number = parseCode(*code)) {
            return PortMapperFailure::refused(*number);
        }
    }
    if (response.status != 200) {
        return PortMapperFailure::badResponse();
    }
    return text;
}

std::uint16_t randomPort() {
    std::random_device source;
    std::uniform_int_distribution<std::uint32_t> below(0, PortMapper::randomPortSpan - 1);
    return static_cast<std::uint16_t>(PortMapper::randomPortBase + below(source));
}

template <class Done> Done orNothing(Done done) {
    return done ? std::move(done) : Done([](auto) {});
}

} // namespace

std::shared_ptr<PortMapper> PortMapper::make(std::string label, std::shared_ptr<Queue> queue,
                                             std::shared_ptr<RouterClient> client, Timing timing) {
    return std::shared_ptr<PortMapper>(
        new PortMapper(std::move(label), std::move(queue), std::move(client), timing));
}

PortMapper::PortMapper(std::string label, std::shared_ptr<Queue> queue, std::shared_ptr<RouterClient> client,
                       Timing timing)
    : label_(std::move(label)), queue_(std::move(queue)), client_(std::move(client)), timing_(timing) {}

std::string_view PortMapper::rawValue(Transport transport) {
    return transport == Transport::udp ? "UDP" : "TCP";
}

std::optional<PortMapper::Transport> PortMapper::transportFrom(std::string_view rawValue) {
    if (rawValue == "UDP") {
        return Transport::udp;
    }
    if (rawValue == "TCP") {
        return Transport::tcp;
    }
    return std::nullopt;
}

template <class Step> void PortMapper::onQueue(Step step) {
    queue_->post(whileAlive(weak_from_this(), std::move(step)));
}

template <class Value, class Step> std::function<void(Value)> PortMapper::later(Step step) {
    return onQueueWhileAlive(queue_, weak_from_this(), std::move(step));
}

void PortMapper::currentGateway(std::function<void(Result<Gateway>)> done) {
    onQueue([done = orNothing(std::move(done))](PortMapper& self) { self.lookUpGateway(done); });
}

void PortMapper::forgetGateway() {
    onQueue([](PortMapper& self) { self.gateway_.reset(); });
}

void PortMapper::externalAddress(std::function<void(Result<std::string>)> done) {
    onQueue([done = orNothing(std::move(done))](PortMapper& self) {
        self.enqueueSoap({"GetExternalIPAddress", {}, [done](Result<std::string> answer) {
                              if (!answer.ok()) {
                                  done(answer.failure());
                                  return;
                              }
                              auto address = TagScanner::tagValue("NewExternalIPAddress", answer.value());
                              if (!address || address->empty()) {
                                  done(Failure::badResponse());
                                  return;
                              }
                              done(std::move(*address));
                          }});
    });
}

void PortMapper::map(Transport transport, std::uint16_t external, std::uint16_t internal, Lease lease,
                     std::function<void(Result<std::monostate>)> done) {
    onQueue([=, done = orNothing(std::move(done))](PortMapper& self) {
        self.mapPort(transport, external, internal, lease, done);
    });
}

void PortMapper::map(Transport transport, std::uint16_t port, Lease lease,
                     std::function<void(Result<std::uint16_t>)> done, Asking asking) {
    onQueue([=, done = orNothing(std::move(done))](PortMapper& self) {
        self.mapAnyPort(transport, port, port, 0, lease, done, asking);
    });
}

void PortMapper::unmap(Transport transport, std::uint16_t port, std::function<void(bool gone)> done) {
    onQueue([=, done = orNothing(std::move(done))](PortMapper& self) {
        logger.info("router stops forwarding %s %hu", rawValue(transport).data(), port);
        SoapArguments arguments = {
            {"NewRemoteHost", ""},
            {"NewExternalPort", std::to_string(port)},
            {"NewProtocol", std::string(rawValue(transport))},
        };
        self.enqueueSoap(
            {"DeletePortMapping", std::move(arguments), [done](const Result<std::string>& answer) {
                 done(answer.ok() || answer.failure().isRefused(noSuchEntry));
             }});
    });
}

void PortMapper::soap(std::string action, SoapArguments arguments,
                      std::function<void(Result<std::string>)> done) {
    onQueue([call = SoapCall{std::move(action), std::move(arguments), orNothing(std::move(done))}](
                PortMapper& self) mutable { self.enqueueSoap(std::move(call)); });
}

void PortMapper::lookUpGateway(std::function<void(Result<Gateway>)> done) {
    if (gateway_) {
        done(*gateway_);
        return;
    }
    // Searches are not shared: two lookups that find no router both search,
    // and the one that finishes last is remembered.
    client_->findGateway(timing_.searchLimit,
                         later<Result<Gateway>>([done](PortMapper& self, Result<Gateway> found) {
                             if (found.ok()) {
                                 self.gateway_ = found.value();
                                 logger.info("router found at %s, this computer is %s",
                                             found.value().host.c_str(), found.value().localAddress.c_str());
                             }
                             done(std::move(found));
                         }));
}

void PortMapper::mapPort(Transport transport, std::uint16_t external, std::uint16_t internal, Lease lease,
                         std::function<void(Result<std::monostate>)> done) {
    lookUpGateway([=, this](Result<Gateway> found) {
        if (!found.ok()) {
            done(found.failure());
            return;
        }
        const std::string localAddress = found.value().localAddress;
        const auto arguments = [=, this](std::int64_t leaseSeconds) {
            return SoapArguments{
                {"NewRemoteHost", ""},
                {"NewExternalPort", std::to_string(external)},
                {"NewProtocol", std::string(rawValue(transport))},
                {"NewInternalPort", std::to_string(internal)},
                {"NewInternalClient", localAddress},
                {"NewEnabled", "1"},
                {"NewPortMappingDescription", label_},
                {"NewLeaseDuration", std::to_string(leaseSeconds)},
            };
        };
        auto mapped = [=](const Result<std::string>& answer) {
            if (!answer.ok()) {
                done(answer.failure());
                return;
            }
            logger.info("router forwards %s %hu to %hu", rawValue(transport).data(), external, internal);
            done(std::monostate{});
        };
        const std::int64_t leaseSeconds = leasesArePermanent_ ? 0 : wholeSeconds(lease);
        enqueueSoap({"AddPortMapping", arguments(leaseSeconds), [=, this](Result<std::string> answer) {
                         // A router that keeps only permanent leases is asked once more
                         // with lease 0, and every later mapping gets lease 0 at once.
                         if (!answer.ok() && answer.failure().isRefused(onlyPermanentLeases) &&
                             !leasesArePermanent_) {
                             leasesArePermanent_ = true;
                             // The same local address as in the first request.
                             enqueueSoap({"AddPortMapping", arguments(0), mapped});
                             return;
                         }
                         mapped(answer);
                     }});
    });
}

void PortMapper::mapAnyPort(Transport transport, std::uint16_t port, std::uint16_t external, int retries,
                            Lease lease, std::function<void(Result<std::uint16_t>)> done, Asking asking) {
    if (asking) {
        asking(external);
    }
    mapPort(transport, external, port, lease, [=, this](const Result<std::monostate>& mapped) {
        if (mapped.ok()) {
            done(external);
            return;
        }
        if (!mapped.failure().isRefused(conflict)) {
            done(mapped.failure());
            return;
        }
        if (retries == conflictRetries) {
            done(Failure::refused(conflict));
            return;
        }
        mapAnyPort(transport, port, randomPort(), retries + 1, lease, done, asking);
    });
}

void PortMapper::enqueueSoap(SoapCall call) {
    soapCalls_.push_back(std::move(call));
    runNextSoap();
}

void PortMapper::runNextSoap() {
    if (soapRunning_ || soapCalls_.empty()) {
        return;
    }
    soapRunning_ = true;
    soapWithRetry(soapCalls_.front(), 0, [this](Result<std::string> answer) {
        // A failed action does not hold up the ones behind it.
        SoapCall call = std::move(soapCalls_.front());
        soapCalls_.pop_front();
        soapRunning_ = false;
        runNextSoap();
        call.done(std::move(answer));
    });
}

void PortMapper::soapWithRetry(const SoapCall& call, int attempt, Reply done) {
    soapOnce(call, [=, this](Result<std::string> answer) {
        if (!answer.ok() && answer.failure().isRefused(actionFailed) && attempt < busyRetries) {
            queue_->postAfter(timing_.busyPause,
                              whileAlive(weak_from_this(), [call, attempt, done](PortMapper& self) {
                                  self.soapWithRetry(call, attempt + 1, done);
                              }));
            return;
        }
        done(std::move(answer));
    });
}

void PortMapper::soapOnce(const SoapCall& call, Reply done) {
    lookUpGateway([=, this](Result<Gateway> found) {
        if (!found.ok()) {
            done(found.failure());
            return;
        }
        const Gateway& gateway = found.value();
        client_->exchange(gateway.host, gateway.port,
                          RouterRequest::soap(call.action, call.arguments, gateway), timing_.exchangeLimit,
                          replyLimit,
                          later<Result<HttpResponse>>([done](PortMapper& self, Result<HttpResponse> reply) {
                              if (!reply.ok()) {
                                  // The router may have moved or gone: search again next time.
                                  self.gateway_.reset();
                                  done(reply.failure());
                                  return;
                              }
                              done(readAnswer(reply.value()));
                          }));
    });
}

std::int64_t PortMapper::wholeSeconds(Lease lease) {
    constexpr double largest = std::numeric_limits<std::uint32_t>::max();
    const double seconds = lease.count();
    if (!(seconds >= 1)) {
        return 1;
    }
    if (seconds >= largest) {
        return static_cast<std::int64_t>(largest);
    }
    return static_cast<std::int64_t>(seconds);
}

bool PortMapper::isPublicAddress(std::string_view address) {
    const std::optional<IpAddress> parsed = IpAddress::parse(address);
    // Only the canonical form counts, so that no odd spelling slips past the ranges below.
    if (!parsed || !parsed->isIpv4() || parsed->text() != address) {
        return false;
    }
    const ByteView bytes = parsed->bytes();
    const std::uint32_t a = bytes[0];
    const std::uint32_t b = bytes[1];
    const bool unreachable = a == 0 || a == 10 || a == 127 || (a == 169 && b == 254) ||
                             (a == 192 && b == 168) || (a == 172 && b >= 16 && b <= 31) ||
                             (a == 100 && b >= 64 && b <= 127) || a > 223;
    return !unreachable;
}

} // namespace velm
