#include "platform/net/TcpConnector.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace velm {

namespace {

std::error_code systemError(int code) {
    return {code, asio::error::get_system_category()};
}

} // namespace

void TcpConnector::connect(Socket& socket, Addresses addresses, Completion completion) {
    const auto first = addresses.begin();
    tryFrom(socket, std::move(addresses), first, asio::error::host_not_found, std::move(completion));
}

void TcpConnector::tryFrom(Socket& socket, Addresses addresses, Addresses::const_iterator next,
                           std::error_code lastError, Completion completion) {
    if (next == addresses.end()) {
        completion(lastError);
        return;
    }
    const asio::ip::tcp::endpoint endpoint = next->endpoint();
    ++next;
    const auto retry = [&](std::error_code error) {
        tryFrom(socket, std::move(addresses), next, error, std::move(completion));
    };

    std::error_code error;
    socket.close(error);
    socket.open(endpoint.protocol(), error);
    if (!error) {
        socket.non_blocking(true, error);
    }
    if (error) {
        retry(error);
        return;
    }
    const int fd = socket.native_handle();
    if (::connect(fd, endpoint.data(), static_cast<socklen_t>(endpoint.size())) == 0) {
        completion({});
        return;
    }
    if (errno != EINPROGRESS) {
        retry(systemError(errno));
        return;
    }
    pollfd writable{fd, POLLOUT, 0};
    if (::poll(&writable, 1, 0) == 1) {
        error = settledError(socket);
        if (error) {
            retry(error);
        } else {
            completion({});
        }
        return;
    }
    socket.async_wait(asio::socket_base::wait_write,
                      [&socket, addresses, next, completion](std::error_code waitError) {
                          if (!waitError) {
                              waitError = settledError(socket);
                          }
                          // A cancelled wait means the socket was closed under it: nothing more to try.
                          if (waitError && waitError != asio::error::operation_aborted) {
                              tryFrom(socket, addresses, next, waitError, completion);
                          } else {
                              completion(waitError);
                          }
                      });
}

std::error_code TcpConnector::settledError(Socket& socket) {
    int code = 0;
    socklen_t length = sizeof code;
    if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, &code, &length) != 0) {
        return systemError(errno);
    }
    return code == 0 ? std::error_code{} : systemError(code);
}

} // namespace velm
