#include "transport/away/router/HttpResponse.h"

#include "platform/core/Digits.h"
#include "platform/core/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

namespace velm {
namespace {

constexpr std::string_view headEnd = "\r\n\r\n";
constexpr std::string_view lineEnd = "\r\n";

std::string_view asText(ByteView bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isChunked(std::string_view lowerHead) {
    return lowerHead.find("transfer-encoding: chunked") != std::string_view::npos;
}

// The size of the chunk whose size line is `line`; extensions after ";" are ignored.
std::optional<std::uint64_t> chunkSize(std::string_view line) {
    return Digits::parse(trimmed(line.substr(0, line.find(';'))), 16, 15);
}

enum class ChunkWalk { needMore, complete, broken };

// Follows the chunks of `body` to learn whether the last chunk and the
// trailers' closing empty line have arrived.
ChunkWalk walkChunks(std::string_view body) {
    std::size_t at = 0;
    while (true) {
        const auto end = body.find(lineEnd, at);
        if (end == std::string_view::npos) {
            return ChunkWalk::needMore;
        }
        const auto size = chunkSize(body.substr(at, end - at));
        if (!size) {
            return ChunkWalk::broken;
        }
        at = end + lineEnd.size();
        if (*size == 0) {
            break;
        }
        const std::size_t remaining = body.size() - at;
        if (*size > remaining || remaining - *size < lineEnd.size()) {
            return ChunkWalk::needMore;
        }
        at += *size;
        if (body.substr(at, lineEnd.size()) != lineEnd) {
            return ChunkWalk::broken;
        }
        at += lineEnd.size();
    }
    // Trailer lines, if any, end with an empty line.
    while (true) {
        const auto end = body.find(lineEnd, at);
        if (end == std::string_view::npos) {
            return ChunkWalk::needMore;
        }
        if (end == at) {
            return ChunkWalk::complete;
        }
        at = end + lineEnd.size();
    }
}

} // namespace

bool HttpResponse::isComplete(ByteView received) {
    const std::string_view text = asText(received);
    const auto end = text.find(headEnd);
    if (end == std::string_view::npos) {
        return false;
    }
    const std::string head = lowered(Utf8::repaired(toString(received.first(end))));
    const std::string_view body = text.substr(end + headEnd.size());
    if (isChunked(head)) {
        return walkChunks(body) != ChunkWalk::needMore;
    }
    std::string_view rest = head;
    while (!rest.empty()) {
        const auto lineLength = rest.find(lineEnd);
        const std::string_view line = rest.substr(0, lineLength);
        if (line.starts_with("content-length:")) {
            const auto length = Digits::parse(trimmed(line.substr(15)), 10, 19);
            return length && body.size() >= *length;
        }
        if (lineLength == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(lineLength + lineEnd.size());
    }
    return false;
}

std::optional<HttpResponse> HttpResponse::parse(ByteView reply) {
    const std::string_view text = asText(reply);
    const auto end = text.find(headEnd);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string head = Utf8::repaired(toString(reply.first(end)));
    const std::string_view statusLine = std::string_view(head).substr(0, head.find(lineEnd));

    // The second word of the status line, however many spaces stand around the words.
    const auto versionStart = statusLine.find_first_not_of(' ');
    const auto versionEnd = statusLine.find(' ', versionStart);
    const auto codeStart = statusLine.find_first_not_of(' ', versionEnd);
    if (versionStart == std::string_view::npos || codeStart == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view code = statusLine.substr(codeStart, statusLine.find(' ', codeStart) - codeStart);
    const auto status = Digits::parse(code, 10, 19);
    if (!status || *status > 999) {
        return std::nullopt;
    }

    HttpResponse response;
    response.status = static_cast<int>(*status);
    const ByteView body = reply.subspan(end + headEnd.size());
    if (isChunked(lowered(head))) {
        response.body = dechunk(body);
    } else {
        response.body.assign(body.begin(), body.end());
    }
    return response;
}

Bytes HttpResponse::dechunk(ByteView body) {
    const std::string_view text = asText(body);
    Bytes out;
    std::size_t at = 0;
    while (true) {
        const auto end = text.find(lineEnd, at);
        if (end == std::string_view::npos) {
            break;
        }
        const auto size = chunkSize(text.substr(at, end - at));
        if (!size || *size == 0) {
            break;
        }
        at = end + lineEnd.size();
        if (*size > text.size() - at) {
            break;
        }
        out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(at),
                   body.begin() + static_cast<std::ptrdiff_t>(at + *size));
        at += *size;
        at = std::min(at + lineEnd.size(), text.size());
    }
    return out;
}

} // namespace velm
