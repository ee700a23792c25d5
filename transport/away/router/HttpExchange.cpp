#include "transport/away/router/HttpExchange.h"

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/write.hpp>
#include <memory>
#include <utility>
#include <vector>

namespace velm {
namespace {

// The state of one exchange. Its I/O objects share one strand, so the
// handlers never run at the same time and `finished` needs no lock.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(const asio::any_io_executor& executor, std::string host, std::uint16_t port, std::string request,
            HttpExchange::Clock::duration timeout, std::size_t sizeLimit, HttpExchange::Completion done)
        : strand_(asio::make_strand(executor)), resolver_(strand_), socket_(strand_), timer_(strand_),
          host_(std::move(host)), port_(port == 0 ? 80 : port), request_(std::move(request)),
          timeout_(timeout), sizeLimit_(sizeLimit), done_(std::move(done)),
          chunk_(HttpExchange::receiveSize) {}

    void start() {
        asio::post(strand_, [self = shared_from_this()] {
            self->timer_.expires_after(self->timeout_);
            self->timer_.async_wait([self](const asio::error_code& error) {
                if (error != asio::error::operation_aborted) {
                    self->timeUp();
                }
            });
            self->resolver_.async_resolve(self->host_, std::to_string(self->port_),
                                          asio::ip::tcp::resolver::numeric_service,
                                          [self](const asio::error_code& error,
                                                 const asio::ip::tcp::resolver::results_type& endpoints) {
                                              self->resolved(error, endpoints);
                                          });
        });
    }

private:
    void resolved(const asio::error_code& error, const asio::ip::tcp::resolver::results_type& endpoints) {
        if (isOver(error)) {
            return;
        }
        asio::async_connect(
            socket_, endpoints,
            [self = shared_from_this()](const asio::error_code& connectError,
                                        const asio::ip::tcp::endpoint&) { self->connected(connectError); });
    }

    void connected(const asio::error_code& error) {
        if (isOver(error)) {
            return;
        }
        asio::async_write(socket_, asio::buffer(request_),
                          [self = shared_from_this()](const asio::error_code& writeError, std::size_t) {
                              self->written(writeError);
                          });
    }

    void written(const asio::error_code& error) {
        if (isOver(error)) {
            return;
        }
        receive();
    }

    // Whether the exchange is over before the next step: it finished already, or this step failed
    // (which finishes it).
    bool isOver(const asio::error_code& error) {
        if (!finished_ && error) {
            finish(PortMapperFailure::network(error));
        }
        return finished_;
    }

    void receive() {
        socket_.async_read_some(asio::buffer(chunk_), [self = shared_from_this()](
                                                          const asio::error_code& error, std::size_t count) {
            self->received(error, count);
        });
    }

    void received(const asio::error_code& error, std::size_t count) {
        if (finished_) {
            return;
        }
        buffer_.insert(buffer_.end(), chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(count));
        // A router answers in a few kilobytes; anything streaming on is not one.
        if (buffer_.size() > sizeLimit_) {
            finish(PortMapperFailure::badResponse());
            return;
        }
        // The peer closing, or any receive error, ends the reply as it stands.
        if (error || HttpResponse::isComplete(buffer_)) {
            finishWithBuffer();
            return;
        }
        receive();
    }

    void timeUp() {
        if (finished_) {
            return;
        }
        if (buffer_.empty()) {
            finish(PortMapperFailure::noGateway());
        } else {
            finishWithBuffer();
        }
    }

    void finishWithBuffer() {
        auto response = HttpResponse::parse(buffer_);
        if (!response) {
            finish(PortMapperFailure::badResponse());
            return;
        }
        finish(std::move(*response));
    }

    void finish(PortMapperResult<HttpResponse> result) {
        finished_ = true;
        timer_.cancel();
        resolver_.cancel();
        asio::error_code ignored;
        socket_.close(ignored);
        auto done = std::move(done_);
        done(std::move(result));
    }

    asio::strand<asio::any_io_executor> strand_;
    asio::ip::tcp::resolver resolver_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer timer_;
    std::string host_;
    std::uint16_t port_;
    std::string request_;
    HttpExchange::Clock::duration timeout_;
    std::size_t sizeLimit_;
    HttpExchange::Completion done_;
    std::vector<std::uint8_t> chunk_;
    Bytes buffer_;
    bool finished_ = false;
};

} // namespace

void HttpExchange::start(const asio::any_io_executor& executor, std::string host, std::uint16_t port,
                         std::string request, Clock::duration timeout, std::size_t sizeLimit,
                         Completion done) {
    std::make_shared<Session>(executor, std::move(host), port, std::move(request), timeout, sizeLimit,
                              std::move(done))
        ->start();
}

} // namespace velm
