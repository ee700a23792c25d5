#include "tests/support/FakeGateway.h"

#include "transport/away/router/TagScanner.h"

#include <algorithm>
#include <array>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/ip/multicast.hpp>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <charconv>
#include <exception>

namespace velm::test {

using asio::use_awaitable;
using asio::ip::tcp;
using asio::ip::udp;

namespace {

// The value of a header as our own client writes it; empty when absent.
std::string headerValue(const std::string& head, const std::string& name) {
    const auto at = head.find("\r\n" + name + ": ");
    const auto start = at == std::string::npos ? head.size() : at + name.size() + 4;
    return head.substr(start, head.find("\r\n", start) - start);
}

std::string soapSuccess(const std::string& inner) {
    const std::string body =
        "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>" +
        inner + "</s:Body></s:Envelope>\r\n";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\nServer: fake/1.0 UPnP/1.1\r\n\r\n" + body;
}

// Keeps the connection until the client closes it.
asio::awaitable<void> waitForClose(tcp::socket& socket) {
    std::array<char, 256> sink{};
    while (true) {
        co_await socket.async_read_some(asio::buffer(sink), use_awaitable);
    }
}

} // namespace

FakeGateway::FakeGateway(bool multicast)
    : acceptor_(io_, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)),
      ssdp_(io_), services_{{"urn:schemas-upnp-org:service:WANIPConnection:1", "/ctl/IPConn"}} {
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
    asio::co_spawn(io_, acceptLoop(), asio::detached);
    asio::co_spawn(io_, answerSearches(), asio::detached);
    thread_ = std::thread([this] { io_.run(); });
}

FakeGateway::~FakeGateway() {
    io_.stop();
    thread_.join();
}

asio::awaitable<void> FakeGateway::acceptLoop() {
    while (true) {
        tcp::socket socket = co_await acceptor_.async_accept(use_awaitable);
        asio::co_spawn(io_, serve(std::move(socket)), asio::detached);
    }
}

asio::awaitable<void> FakeGateway::answerSearches() {
    std::array<char, 2048> buffer{};
    while (true) {
        udp::endpoint from;
        const std::size_t count =
            co_await ssdp_.async_receive_from(asio::buffer(buffer), from, use_awaitable);
        if (!std::string_view(buffer.data(), count).starts_with("M-SEARCH")) {
            continue;
        }
        const auto answers = locked([&] {
            ++searches_;
            return ssdpAnswers_.value_or(std::vector<std::string>{defaultSsdpAnswer()});
        });
        for (const auto& datagram : answers) {
            co_await ssdp_.async_send_to(asio::buffer(datagram), from, use_awaitable);
        }
    }
}

asio::awaitable<void> FakeGateway::serve(tcp::socket socket) {
    try {
        std::string data;
        const std::size_t headLength =
            co_await asio::async_read_until(socket, asio::dynamic_buffer(data), "\r\n\r\n", use_awaitable);
        const std::string head = data.substr(0, headLength);
        const std::string length = headerValue(head, "Content-Length");
        const std::size_t bodyLength =
            length.empty() ? 0 : std::min<std::size_t>(std::stoul(length), 1 << 20);
        while (data.size() < headLength + bodyLength) {
            co_await asio::async_read(socket, asio::dynamic_buffer(data), asio::transfer_at_least(1),
                                      use_awaitable);
        }
        if (head.starts_with("GET ")) {
            co_await serveDescription(socket);
        } else {
            co_await serveSoap(socket, head, data.substr(headLength, bodyLength));
        }
    } catch (const std::exception&) {
        // The client went away; nothing to clean up beyond the socket.
    }
}

// Keeps the connection open after the description, so that a client has to find its end
// from the Content-Length.
asio::awaitable<void> FakeGateway::serveDescription(tcp::socket& socket) {
    locked([&] { ++descriptionFetches_; });
    const std::string text = description();
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(text.size()) +
        "\r\n\r\n" + text;
    co_await asio::async_write(socket, asio::buffer(reply), use_awaitable);
    co_await waitForClose(socket);
}

asio::awaitable<void> FakeGateway::serveSoap(tcp::socket& socket, const std::string& head,
                                             const std::string& body) {
    const std::string soapAction = headerValue(head, "SOAPAction"); // "<service type>#<action>"
    const auto hash = soapAction.find('#');
    const std::string action =
        hash == std::string::npos ? "" : soapAction.substr(hash + 1, soapAction.rfind('"') - hash - 1);
    const std::optional<Reply> reply = locked([&]() -> std::optional<Reply> {
        lastRequest_ = head;
        auto& queue = scripts_[action];
        if (queue.empty()) {
            return std::nullopt;
        }
        Reply next = std::move(queue.front());
        queue.pop_front();
        return next;
    });
    if (!reply) {
        apply(action, body);
        const std::string value =
            action == "GetExternalIPAddress"
                ? "<NewExternalIPAddress>" + std::string(defaultExternalAddress) + "</NewExternalIPAddress>"
                : "";
        const std::string inner = "<u:" + action + "Response xmlns:u=\"" + soapAction.substr(1, hash - 1) +
                                  "\">" + value + "</u:" + action + "Response>";
        co_await asio::async_write(socket, asio::buffer(soapSuccess(inner)), use_awaitable);
        co_return;
    }
    co_await asio::async_write(socket, asio::buffer(reply->text), use_awaitable);
    if (reply->holdOpen) {
        co_await waitForClose(socket);
    }
}

void FakeGateway::apply(const std::string& action, const std::string& body) {
    const auto argument = [&](const char* name) { return TagScanner::tagValue(name, body).value_or(""); };
    const auto port = [&](const char* name) {
        std::uint16_t value = 0;
        const std::string text = argument(name);
        std::from_chars(text.data(), text.data() + text.size(), value);
        return value;
    };
    const auto key = std::make_pair(argument("NewProtocol"), port("NewExternalPort"));
    std::lock_guard guard(lock_);
    if (action == "AddPortMapping") {
        mappings_[key] = {port("NewInternalPort"), argument("NewInternalClient"),
                          argument("NewLeaseDuration")};
    } else if (action == "DeletePortMapping") {
        mappings_.erase(key);
    }
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
        services += "<service><serviceType>" + service.type +
                    "</serviceType><serviceId>urn:upnp-org:serviceId:" + "WANConn</serviceId><controlURL>" +
                    service.controlUrl +
                    "</controlURL><eventSubURL>/evt</eventSubURL><SCPDURL>/scpd.xml</SCPDURL></service>\r\n";
    }
    // The WAN services sit two devices deep, after a service of the root device that is of no use.
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\r\n<device>\r\n"
           "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</"
           "deviceType>\r\n<serviceList><service>"
           "<serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType>"
           "<serviceId>urn:upnp-org:serviceId:L3Forwarding1</serviceId><controlURL>/ctl/L3F</controlURL>"
           "<eventSubURL>/evt/L3F</eventSubURL><SCPDURL>/L3F.xml</SCPDURL></service></serviceList>\r\n"
           "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>\r\n"
           "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</"
           "deviceType>\r\n"
           "<serviceList>\r\n" +
           services +
           "</serviceList></device></deviceList></device></deviceList>\r\n</device>\r\n</root>\r\n";
}

} // namespace velm::test
