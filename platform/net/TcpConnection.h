#pragma once

#include "platform/core/Bytes.h"
#include "platform/net/HostPort.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/strand.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <system_error>

namespace velm {

class Queue;

// A plain TCP connection (no TLS) for a short exchange: connect, write a request, read the
// answer. Its socket works on a strand of the process's I/O pool; every completion runs on
// the owner's queue, and errors come as the socket layer reports them.
//
// An operation in flight holds the connection until it completes; close() ends them all
// (they complete with operation_aborted), and every one asked for after it; the owner closes once
// it is done with it.
class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
public:
    using Completion = std::function<void(const std::error_code& error)>;
    // With an error, the end of the stream included, no more data follows.
    using ReceiveCompletion = std::function<void(Bytes data, const std::error_code& error)>;

    static std::shared_ptr<TcpConnection> make(std::shared_ptr<Queue> queue);
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Resolves the host and connects to the first of its addresses that accepts.
    void connect(HostPort target, Completion completion);
    // Completes once every byte is written, or with the error that stopped the writing.
    void send(Bytes data, Completion completion);
    // Completes with at least one byte and at most `maximum`, or with an error.
    void receive(std::size_t maximum, ReceiveCompletion completion);
    void close();

private:
    using Strand = asio::strand<asio::io_context::executor_type>;

    TcpConnection(std::shared_ptr<Queue> queue, Strand strand);

    void deliver(std::function<void()> work);

    std::shared_ptr<Queue> queue_;
    Strand strand_;
    // Touched on the strand only.
    asio::basic_stream_socket<asio::ip::tcp, Strand> socket_;
    asio::ip::tcp::resolver resolver_;
    bool closed_ = false;
};

} // namespace velm
