#pragma once

#include "platform/core/Bytes.h"

#include <optional>

namespace velm {

// A router's HTTP reply: just enough of HTTP/1.1 for UPnP.
struct HttpResponse {
    int status = 0;
    Bytes body;

    // True when `received` holds a whole reply: a chunked body up to its last
    // chunk and the empty line after it (or a chunked body that can no longer
    // become valid), or at least Content-Length body bytes. A reply with
    // neither framing is whole only when the peer closes.
    static bool isComplete(ByteView received);

    // Status and body of a reply; nothing when there is no header end or no
    // readable status code. The body is everything after the head (dechunked
    // when chunked): a reply cut short still yields what arrived.
    static std::optional<HttpResponse> parse(ByteView reply);

    // Joins the chunks of a chunked body, stopping at the last chunk, at a
    // size line that is not strictly hexadecimal, or at a chunk that is not all
    // there.
    static Bytes dechunk(ByteView body);
};

} // namespace velm
