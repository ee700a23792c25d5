#pragma once

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velm::test {

// A home router's Internet Gateway Device on loopback, for tests: an SSDP
// responder, the device description over HTTP and the SOAP actions of the WAN
// connection service, with scripted stalls and odd answers.
// Everything runs on one thread of its own; the setters may be called at any time.
class FakeGateway {
public:
    struct Service {
        std::string type;
        std::string controlUrl;
    };

    // A scripted answer to one SOAP request, sent as it stands.
    struct Reply {
        std::string text;
        bool holdOpen = false; // keep the connection until the client closes

        // Reads the request and never answers.
        static Reply stall() { return {{}, true}; }
        // A megabyte of body, far past what a client should read.
        static Reply oversized() {
            return {"HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n" + std::string(1 << 20, 'x')};
        }
    };

    // A port mapping the gateway holds, as the last AddPortMapping for it set it.
    struct Mapping {
        std::uint16_t internalPort = 0;
        std::string client;
        std::string lease;

        bool operator==(const Mapping&) const = default;
    };
    // By protocol ("UDP", "TCP") and external port.
    using MappingTable = std::map<std::pair<std::string, std::uint16_t>, Mapping>;

    static constexpr std::string_view defaultExternalAddress = "203.0.113.7";

    // With `multicast`, answers searches sent to the SSDP group on port 1900
    // (joined on 127.0.0.1) instead of on a loopback port of its own. Only ever
    // inside a network namespace with nothing but loopback.
    explicit FakeGateway(bool multicast = false);
    ~FakeGateway();
    FakeGateway(const FakeGateway&) = delete;
    FakeGateway& operator=(const FakeGateway&) = delete;

    std::uint16_t httpPort() const { return httpPort_; }
    std::uint16_t ssdpPort() const { return ssdpPort_; }
    // "http://127.0.0.1:<port>/rootDesc.xml"
    std::string location() const { return "http://127.0.0.1:" + std::to_string(httpPort_) + "/rootDesc.xml"; }

    // The default is one WANIPConnection:1 service with control URL "/ctl/IPConn".
    void setServices(std::vector<Service> services) {
        locked([&] { services_ = std::move(services); });
    }
    // Serves this text as the description instead of the generated one.
    void setDescription(std::string text) {
        locked([&] { descriptionOverride_ = std::move(text); });
    }
    // Datagrams sent back for each search, in order; the default is one answer
    // naming InternetGatewayDevice:1 with location(). An empty list stays silent.
    void setSsdpAnswers(std::vector<std::string> texts) {
        locked([&] { ssdpAnswers_ = std::move(texts); });
    }
    // Queues a reply for the next request of `action`; unscripted requests succeed.
    void script(const std::string& action, Reply reply) {
        locked([&] { scripts_[action].push_back(std::move(reply)); });
    }

    // The head of the last SOAP request.
    std::string lastRequest() const {
        return locked([&] { return lastRequest_; });
    }
    // The mappings added and not deleted since; scripted replies change nothing.
    MappingTable mappings() const {
        return locked([&] { return mappings_; });
    }
    int searchesReceived() const {
        return locked([&] { return searches_; });
    }
    int descriptionFetches() const {
        return locked([&] { return descriptionFetches_; });
    }

    std::string defaultSsdpAnswer() const;

private:
    std::string description() const;

    template <typename Body> auto locked(Body body) const -> decltype(body()) {
        std::lock_guard guard(lock_);
        return body();
    }

    asio::awaitable<void> acceptLoop();
    asio::awaitable<void> answerSearches();
    asio::awaitable<void> serve(asio::ip::tcp::socket socket);
    asio::awaitable<void> serveDescription(asio::ip::tcp::socket& socket);
    asio::awaitable<void> serveSoap(asio::ip::tcp::socket& socket, const std::string& head,
                                    const std::string& body);
    // Keeps the table as a router would after a successful action.
    void apply(const std::string& action, const std::string& body);

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    asio::ip::udp::socket ssdp_;
    std::uint16_t httpPort_ = 0;
    std::uint16_t ssdpPort_ = 0;

    mutable std::mutex lock_;
    std::vector<Service> services_;
    std::optional<std::string> descriptionOverride_;
    std::optional<std::vector<std::string>> ssdpAnswers_;
    std::map<std::string, std::deque<Reply>> scripts_;
    std::string lastRequest_;
    MappingTable mappings_;
    int searches_ = 0;
    int descriptionFetches_ = 0;

    std::thread thread_;
};

} // namespace velm::test
