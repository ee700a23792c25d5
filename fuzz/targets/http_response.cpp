// A router's HTTP replies, chunked and by length: completeness, parsing and dechunking.
#include "fuzz/Target.h"
#include "transport/away/router/HttpResponse.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    return {
        toBytes("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 11\r\n\r\n<root></root>"),
        toBytes(
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n<root\r\n2;x=y\r\n/>\r\n0\r\n\r\n"),
        toBytes("HTTP/1.0 500 Internal Server Error\r\nConnection: close\r\n\r\n<s:Fault/>")};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const ByteView reply(data, size);
    HttpResponse::isComplete(reply);
    const auto parsed = HttpResponse::parse(reply);
    // Nothing is made up: a body is at most what arrived.
    if (parsed && parsed->body.size() > size) {
        std::abort();
    }
    if (HttpResponse::dechunk(reply).size() > size) {
        std::abort();
    }
}

} // namespace velm::fuzz
