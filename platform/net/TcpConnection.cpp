#include "platform/net/TcpConnection.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/TcpConnector.h"

#include <asio/buffer.hpp>
#include <asio/dispatch.hpp>
#include <asio/write.hpp>
#include <string>
#include <utility>

namespace velm {

std::shared_ptr<TcpConnection> TcpConnection::make(std::shared_ptr<Queue> queue) {
    return std::shared_ptr<TcpConnection>(
        new TcpConnection(std::move(queue), asio::make_strand(IoPool::shared().context())));
}

TcpConnection::TcpConnection(std::shared_ptr<Queue> queue, Strand strand)
    : queue_(std::move(queue)), strand_(strand), socket_(strand), resolver_(strand) {}

TcpConnection::~TcpConnection() {
    std::error_code ignored;
    socket_.close(ignored);
}

void TcpConnection::connect(HostPort target, Completion completion) {
    if (!namesAPeer(target.host)) {
        deliver([completion = std::move(completion)] { completion(asio::error::host_not_found); });
        return;
    }
    asio::dispatch(strand_, [self = shared_from_this(), target = std::move(target),
                             completion = std::move(completion)]() mutable {
        const auto report = [self, completion = std::move(completion)](const std::error_code& outcome) {
            self->deliver([completion, outcome] { completion(outcome); });
        };
        if (self->closed_) {
            report(asio::error::operation_aborted);
            return;
        }
        self->resolver_.async_resolve(target.host, std::to_string(target.port),
                                      asio::ip::tcp::resolver::numeric_service,
                                      [self, report](const std::error_code& error,
                                                     const asio::ip::tcp::resolver::results_type& addresses) {
                                          // A lookup under way is not stopped by a cancel: it may finish
                                          // after the close.
                                          if (error || self->closed_) {
                                              report(self->closed_ ? asio::error::operation_aborted : error);
                                              return;
                                          }
                                          TcpConnector::connect(self->socket_, addresses, report);
                                      });
    });
}

void TcpConnection::send(Bytes data, Completion completion) {
    asio::dispatch(strand_, [self = shared_from_this(), data = std::make_shared<Bytes>(std::move(data)),
                             completion = std::move(completion)] {
        if (self->closed_) {
            self->deliver([completion] { completion(asio::error::operation_aborted); });
            return;
        }
        asio::async_write(self->socket_, asio::buffer(*data),
                          [self, data, completion](const std::error_code& error, std::size_t) {
                              self->deliver([completion, error] { completion(error); });
                          });
    });
}

void TcpConnection::receive(std::size_t maximum, ReceiveCompletion completion) {
    asio::dispatch(strand_, [self = shared_from_this(), maximum, completion = std::move(completion)] {
        if (self->closed_) {
            self->deliver([completion] { completion({}, asio::error::operation_aborted); });
            return;
        }
        auto buffer = std::make_shared<Bytes>(maximum);
        self->socket_.async_read_some(
            asio::buffer(*buffer),
            [self, buffer, completion](const std::error_code& error, std::size_t size) {
                buffer->resize(size);
                self->deliver([completion, buffer, error] { completion(std::move(*buffer), error); });
            });
    });
}

void TcpConnection::close() {
    asio::dispatch(strand_, [self = shared_from_this()] {
        self->closed_ = true;
        self->resolver_.cancel();
        std::error_code ignored;
        self->socket_.close(ignored);
    });
}

void TcpConnection::deliver(std::function<void()> work) {
    queue_->post(std::move(work));
}

} // namespace velm
