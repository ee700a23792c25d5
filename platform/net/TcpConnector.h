#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/strand.hpp>
#include <functional>
#include <system_error>

namespace velm {

// Connects a TCP socket to the first of a list of addresses that accepts, trying them in
// order; the error of the last attempt is what fails.
//
// On loopback and on a fast network the connection is usually made by the time connect()
// returns. The connector looks at once and then completes within the call, sparing a trip
// through the reactor and the wake-up of another thread; otherwise it completes on the
// socket's executor once the connection settles.
class TcpConnector {
public:
    using Socket = asio::basic_stream_socket<asio::ip::tcp, asio::strand<asio::io_context::executor_type>>;
    using Addresses = asio::ip::tcp::resolver::results_type;
    using Completion = std::function<void(const std::error_code& error)>;

    // The socket must outlive the attempt; the completion runs once.
    static void connect(Socket& socket, Addresses addresses, Completion completion);

private:
    static void tryFrom(Socket& socket, Addresses addresses, Addresses::const_iterator next,
                        std::error_code lastError, Completion completion);
    static std::error_code settledError(Socket& socket);
};

} // namespace velm
