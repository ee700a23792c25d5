// A router's HTTP replies, chunked and by length: completeness, parsing and dechunking.
#include "fuzz/Seeds.h"
#include "transport/away/router/HttpResponse.h"

#include <cstdlib>

namespace velm::fuzz {
namespace {

std::vector<Bytes> seeds() {
    return {
        toBytes("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 11\r\n\r\n<root></root>"),
        toBytes(
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n<root\r\n2;x=y\r\n/>\r\n0\r\n\r\n"),
        toBytes("HTTP/1.0 500 Internal Server Error\r\nConnection: close\r\n\r\n<s:Fault/>")};
}

} // namespace
} // namespace velm::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return velm::fuzz::writeSeedsIfAsked(velm::fuzz::seeds());
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velm;
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
    return 0;
}
