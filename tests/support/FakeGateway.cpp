#include "tests/support/FakeGateway.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/ip/multicast.hpp>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <exception>

namespace velm::test {

using asio::ip::tcp;
using asio::ip::udp;

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

// The value of a header, found by its lower-case name; empty when absent.
std::string headerValue(const std::string& head, const std::string& name) {
    const std::string lower = lowered(head);
    const auto at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos) {
        return {};
    }
    const auto start = at + name.size() + 3;
    std::string value = head.substr(start, head.find("\r\n", start) - start);
    value.erase(0, value.find_first_not_of(" \t"));
    return value;
}

std::string envelope(const std::string& inner) {
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>" +
           inner + "</s:Body></s:Envelope>\r\n";
}

std::string answer(int status, const std::string& reason, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\nServer: fake/1.0 UPnP/1.1\r\n\r\n" + body;
}

} // namespace

class FakeGatewayConnection {
public:
    static asio::awaitable<void> acceptLoop(FakeGateway& gateway) {
        while (true) {
            tcp::socket socket = co_await gateway.acceptor_.async_accept(asio::use_awaitable);
            asio::co_spawn(gateway.io_, serve(gateway, std::move(socket)), asio::detached);
        }
    }

    static asio::awaitable<void> answerSearches(FakeGateway& gateway) {
        std::array<char, 2048> buffer{};
        while (true) {
            udp::endpoint from;
            const std::size_t count =
                co_await gateway.ssdp_.async_receive_from(asio::buffer(buffer), from, asio::use_awaitable);
            const std::string text(buffer.data(), count);
            if (!text.starts_with("M-SEARCH")) {
                continue;
            }
            std::vector<std::string> answers;
            {
                std::lock_guard guard(gateway.lock_);
                ++gateway.searches_;
                answers = gateway.ssdpAnswers_.value_or(std::vector<std::string>{gateway.defaultSsdpAnswer()});
            }
            for (const auto& datagram : answers) {
                co_await gateway.ssdp_.async_send_to(asio::buffer(datagram), from, asio::use_awaitable);
            }
        }
    }

private:
    static asio::awaitable<void> serve(FakeGateway& gateway, tcp::socket socket) {
        try {
            std::string data;
            const std::size_t headLength =
                co_await asio::async_read_until(socket, asio::dynamic_buffer(data), "\r\n\r\n", asio::use_awaitable);
            const std::string head = data.substr(0, headLength);
            const std::string length = headerValue(head, "content-length");
            const std::size_t bodyLength = length.empty() ? 0 : std::min<std::size_t>(std::stoul(length), 1 << 20);
            while (data.size() < headLength + bodyLength) {
                co_await asio::async_read(socket, asio::dynamic_buffer(data), asio::transfer_at_least(1),
                                          asio::use_awaitable);
            }
            if (head.starts_with("GET ")) {
                co_await serveDescription(gateway, socket);
            } else if (head.starts_with("POST ")) {
                co_await serveSoap(gateway, socket, head);
            } else {
                co_await asio::async_write(socket, asio::buffer(answer(400, "Bad Request", "")),
                                           asio::use_awaitable);
            }
        } catch (const std::exception&) {
            // The client went away; nothing to clean up beyond the socket.
        }
    }

    // Keeps the connection open until the client closes it, so that a client
    // has to find the reply's end from its framing.
    static asio::awaitable<void> waitForClose(tcp::socket& socket) {
        std::array<char, 256> sink{};
        while (true) {
            co_await socket.async_read_some(asio::buffer(sink), asio::use_awaitable);
        }
    }

    static asio::awaitable<void> serveDescription(FakeGateway& gateway, tcp::socket& socket) {
        std::string text;
        FakeGateway::Framing framing;
        {
            std::lock_guard guard(gateway.lock_);
            ++gateway.descriptionFetches_;
            framing = gateway.framing_;
        }
        text = gateway.description();
        std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n";
        switch (framing) {
        case FakeGateway::Framing::contentLength:
            reply += "Content-Length: " + std::to_string(text.size()) + "\r\n\r\n" + text;
            break;
        case FakeGateway::Framing::chunked: {
            reply += "Transfer-Encoding: chunked\r\n\r\n";
            constexpr std::size_t piece = 100;
            for (std::size_t at = 0; at < text.size(); at += piece) {
                const std::string chunk = text.substr(at, piece);
                char size[32];
                std::snprintf(size, sizeof size, "%zx", chunk.size());
                reply += std::string(size) + (at == 0 ? ";fake=1" : "") + "\r\n" + chunk + "\r\n";
            }
            reply += "0\r\n\r\n";
            break;
        }
        case FakeGateway::Framing::closeDelimited:
            reply += "Connection: close\r\n\r\n" + text;
            break;
        }
        co_await asio::async_write(socket, asio::buffer(reply), asio::use_awaitable);
        if (framing != FakeGateway::Framing::closeDelimited) {
            co_await waitForClose(socket);
        }
    }

    static asio::awaitable<void> serveSoap(FakeGateway& gateway, tcp::socket& socket, const std::string& head) {
        FakeGateway::Request request;
        request.path = head.substr(5, head.find(' ', 5) - 5);
        const std::string soapAction = headerValue(head, "soapaction");
        const auto hash = soapAction.find('#');
        request.action = hash == std::string::npos ? "" : soapAction.substr(hash + 1, soapAction.rfind('"') - hash - 1);
        request.head = head;

        FakeGateway::Reply reply;
        {
            std::lock_guard guard(gateway.lock_);
            gateway.requests_.push_back(request);
            auto& queue = gateway.scripts_[request.action];
            if (!queue.empty()) {
                reply = queue.front();
                queue.pop_front();
            }
        }
        switch (reply.kind) {
        case FakeGateway::Reply::Kind::success: {
            const std::string value = request.action == "GetExternalIPAddress"
                                          ? "<NewExternalIPAddress>" + std::string(FakeGateway::defaultExternalAddress) +
                                                "</NewExternalIPAddress>"
                                          : "";
            const std::string inner = "<u:" + request.action + "Response xmlns:u=\"" +
                                      soapAction.substr(1, hash == std::string::npos ? 0 : hash - 1) + "\">" +
                                      value + "</u:" + request.action + "Response>";
            co_await asio::async_write(socket, asio::buffer(answer(200, "OK", envelope(inner))),
                                       asio::use_awaitable);
            break;
        }
        case FakeGateway::Reply::Kind::fault: {
            const std::string inner =
                "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
                "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
                std::to_string(reply.faultCode) + "</errorCode><errorDescription>scripted</errorDescription>"
                "</UPnPError></detail></s:Fault>";
            co_await asio::async_write(socket, asio::buffer(answer(500, "Internal Server Error", envelope(inner))),
                                       asio::use_awaitable);
            break;
        }
        case FakeGateway::Reply::Kind::raw:
            co_await asio::async_write(socket, asio::buffer(reply.text), asio::use_awaitable);
            if (reply.holdOpen) {
                co_await waitForClose(socket);
            }
            break;
        }
    }
};

FakeGateway::FakeGateway(bool multicast)
    : acceptor_(io_, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)), ssdp_(io_),
      services_{{"urn:schemas-upnp-org:service:WANIPConnection:1", "/ctl/IPConn"}} {
    httpPort_ = acceptor_.local_endpoint().port();
    ssdp_.open(udp::v4());
    if (multicast) {
        ssdp_.set_option(asio::socket_base::reuse_address(true));
        ssdp_.bind(udp::endpoint(asio::ip::address_v4::any(), 1900));
        ssdp_.set_option(asio::ip::multicast::join_group(asio::ip::make_address_v4("239.255.255.250"),
                                                         asio::ip::make_address_v4("127.0.0.1")));
    } else {
        ssdp_.bind(udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    }
    ssdpPort_ = ssdp_.local_endpoint().port();
    asio::co_spawn(io_, FakeGatewayConnection::acceptLoop(*this), asio::detached);
    asio::co_spawn(io_, FakeGatewayConnection::answerSearches(*this), asio::detached);
    thread_ = std::thread([this] { io_.run(); });
}

FakeGateway::~FakeGateway() {
    io_.stop();
    thread_.join();
}

std::string FakeGateway::location() const {
    return "http://127.0.0.1:" + std::to_string(httpPort_) + std::string(descriptionPath);
}

void FakeGateway::setServices(std::vector<Service> services) {
    std::lock_guard guard(lock_);
    services_ = std::move(services);
}

void FakeGateway::setDescriptionFraming(Framing framing) {
    std::lock_guard guard(lock_);
    framing_ = framing;
}

void FakeGateway::setDescription(std::string text) {
    std::lock_guard guard(lock_);
    descriptionOverride_ = std::move(text);
}

void FakeGateway::setSsdpAnswers(std::vector<std::string> answers) {
    std::lock_guard guard(lock_);
    ssdpAnswers_ = std::move(answers);
}

void FakeGateway::script(const std::string& action, Reply reply) {
    std::lock_guard guard(lock_);
    scripts_[action].push_back(std::move(reply));
}

std::vector<FakeGateway::Request> FakeGateway::requests() const {
    std::lock_guard guard(lock_);
    return requests_;
}

int FakeGateway::searchesReceived() const {
    std::lock_guard guard(lock_);
    return searches_;
}

int FakeGateway::descriptionFetches() const {
    std::lock_guard guard(lock_);
    return descriptionFetches_;
}

std::string FakeGateway::defaultSsdpAnswer() const {
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
           "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
           "USN: uuid:fake-gateway::urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\nEXT:\r\n"
           "SERVER: fake/1.0 UPnP/1.1\r\nLOCATION: " +
           location() + "\r\n\r\n";
}

std::string FakeGateway::description() const {
    std::lock_guard guard(lock_);
    if (descriptionOverride_) {
        return *descriptionOverride_;
    }
    std::string services;
    for (const auto& service : services_) {
        services += "<service><serviceType>" + service.type + "</serviceType><serviceId>urn:upnp-org:serviceId:" +
                    "WANConn</serviceId><controlURL>" + service.controlUrl +
                    "</controlURL><eventSubURL>/evt</eventSubURL><SCPDURL>/scpd.xml</SCPDURL></service>\r\n";
    }
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\r\n"
           "<specVersion><major>1</major><minor>0</minor></specVersion>\r\n<device>\r\n"
           "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>\r\n"
           "<friendlyName>Fake Gateway</friendlyName>\r\n<serviceList><service>"
           "<serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType>"
           "<serviceId>urn:upnp-org:serviceId:L3Forwarding1</serviceId><controlURL>/ctl/L3F</controlURL>"
           "<eventSubURL>/evt/L3F</eventSubURL><SCPDURL>/L3F.xml</SCPDURL></service></serviceList>\r\n"
           "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>\r\n"
           "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>\r\n"
           "<serviceList>\r\n" +
           services +
           "</serviceList></device></deviceList></device></deviceList>\r\n</device>\r\n</root>\r\n";
}

} // namespace velm::test
