#include "transport/away/router/RouterRequest.h"

namespace velm {

std::string RouterRequest::get(std::string_view path, std::string_view host, std::uint16_t port) {
    std::string request = "GET ";
    request += path;
    request += " HTTP/1.1\r\nHost: ";
    request += host;
    request += ":" + std::to_string(port) + "\r\nConnection: close\r\n\r\n";
    return request;
}

std::string RouterRequest::escape(std::string_view value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string RouterRequest::soap(std::string_view action, const SoapArguments& arguments,
                                const PortMapperGateway& gateway) {
    std::string elements;
    for (const auto& [name, value] : arguments) {
        elements += "<" + name + ">" + escape(value) + "</" + name + ">";
    }
    std::string body = "<?xml version=\"1.0\"?>\r\n"
                       "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                       "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:";
    body += action;
    body += " xmlns:u=\"" + gateway.serviceType + "\">" + elements + "</u:";
    body += action;
    body += "></s:Body></s:Envelope>\r\n";

    std::string head = "POST " + gateway.controlPath + " HTTP/1.1\r\nHost: " + gateway.host + ":" +
                       std::to_string(gateway.port) +
                       "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nSOAPAction: \"" +
                       gateway.serviceType + "#";
    head += action;
    head += "\"\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return head + body;
}

} // namespace velm
