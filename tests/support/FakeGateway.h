#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velm::test {

// A home router's Internet Gateway Device on loopback, for tests: an SSDP
// responder, the device description over HTTP and the SOAP actions of the WAN
// connection service, with scripted faults, stalls and oversized answers.
// Everything runs on one thread of its own; the setters may be called at any time.
class FakeGateway {
public:
    enum class Framing { contentLength, chunked, closeDelimited };

    struct Service {
        std::string type;
        std::string controlUrl;
    };

    // A scripted answer to one SOAP request.
    struct Reply {
        enum class Kind { success, fault, raw };
        Kind kind = Kind::success;
        int faultCode = 0;
        std::string text;      // the whole answer for `raw`
        bool holdOpen = false; // after a raw answer, keep the connection until the client closes

        static Reply success() { return {}; }
        static Reply fault(int code) { return {Kind::fault, code, {}, false}; }
        // Reads the request and never answers.
        static Reply stall() { return raw({}, true); }
        // A megabyte of body, far past what a client should read.
        static Reply oversized() {
            return raw("HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n" + std::string(1 << 20, 'x'));
        }
        static Reply raw(std::string text, bool holdOpen = false) { return {Kind::raw, 0, std::move(text), holdOpen}; }
    };

    // One SOAP request as it arrived.
    struct Request {
        std::string path;
        std::string action; // from the SOAPAction header
        std::string head;
    };

    static constexpr std::string_view descriptionPath = "/rootDesc.xml";
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
    std::string location() const;

    // The default is one WANIPConnection:1 service with control URL "/ctl/IPConn".
    void setServices(std::vector<Service> services);
    void setDescriptionFraming(Framing framing);
    // Serves this text as the description instead of the generated one.
    void setDescription(std::string text);
    // Datagrams sent back for each search, in order; the default is one answer
    // naming InternetGatewayDevice:1 with location(). An empty list stays silent.
    void setSsdpAnswers(std::vector<std::string> answers);
    // Queues a reply for the next request of `action`; unscripted requests succeed.
    void script(const std::string& action, Reply reply);

    std::vector<Request> requests() const;
    int searchesReceived() const;
    int descriptionFetches() const;

    std::string defaultSsdpAnswer() const;
    std::string description() const;

private:
    void acceptNext();
    void receiveSearch();

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    asio::ip::udp::socket ssdp_;
    std::uint16_t httpPort_ = 0;
    std::uint16_t ssdpPort_ = 0;
    std::vector<std::uint8_t> searchBuffer_;
    asio::ip::udp::endpoint searcher_;

    mutable std::mutex lock_;
    std::vector<Service> services_;
    Framing framing_ = Framing::contentLength;
    std::optional<std::string> descriptionOverride_;
    std::optional<std::vector<std::string>> ssdpAnswers_;
    std::map<std::string, std::deque<Reply>> scripts_;
    std::vector<Request> requests_;
    int searches_ = 0;
    int descriptionFetches_ = 0;

    friend class FakeGatewayConnection;
    std::thread thread_;
};

} // namespace velm::test
