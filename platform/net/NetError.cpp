#include "platform/net/NetError.h"

#include <cerrno>
#include <string_view>

namespace velm {

namespace {

NetError::Kind kindOf(const std::error_code& error) {
    const std::string_view category = error.category().name();
    if (category == "asio.netdb" || category == "asio.addrinfo") {
        return NetError::Kind::unreachable;
    }
    if (category == "asio.misc") {
        return NetError::Kind::closed; // end of stream
    }
    const bool isErrno = category == "asio.system" || error.category() == std::system_category() ||
                         error.category() == std::generic_category();
    if (!isErrno) {
        return NetError::Kind::other;
    }
    switch (error.value()) {
    case ECONNREFUSED:
        return NetError::Kind::refused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case EADDRNOTAVAIL:
        return NetError::Kind::unreachable;
    case ETIMEDOUT:
        return NetError::Kind::timedOut;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
        return NetError::Kind::closed;
    case EADDRINUSE:
        return NetError::Kind::addressInUse;
    case ECANCELED:
        return NetError::Kind::cancelled;
    default:
        return NetError::Kind::other;
    }
}

} // namespace

NetError NetError::fromSystem(const std::error_code& error) {
    return {kindOf(error), error.message()};
}

} // namespace velm
