#include "transport/away/router/HttpExchange.h"

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/net/TcpConnection.h"

#include <memory>
#include <utility>

namespace velm {
namespace {

constexpr std::uint16_t defaultPort = 80;

// The state of one exchange, all of it touched on the exchange's own queue, so `finished_`
// needs no lock. The connection's operations hold it until the exchange finishes.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(std::string host, std::uint16_t port, std::string request, HttpExchange::Clock::duration timeout,
            std::size_t sizeLimit, HttpExchange::Completion done)
        : queue_(Queue::make("velm.portmapper.http")), connection_(TcpConnection::make(queue_)),
          host_(std::move(host)), port_(port == 0 ? defaultPort : port), request_(std::move(request)),
          timeout_(timeout), sizeLimit_(sizeLimit), done_(std::move(done)) {}

    void start() {
        queue_->post([self = shared_from_this()] {
            self->timer_ = self->queue_->postAfter(self->timeout_, whileAlive(self, &Session::timeUp));
            self->connection_->connect({self->host_, self->port_},
                                       [self](const std::error_code& error) { self->connected(error); });
        });
    }

private:
    void connected(const std::error_code& error) {
        if (isOver(error)) {
            return;
        }
        connection_->send(toBytes(request_), [self = shared_from_this()](const std::error_code& writeError) {
            self->written(writeError);
        });
    }

    void written(const std::error_code& error) {
        if (isOver(error)) {
            return;
        }
        receive();
    }

    // Whether the exchange is over before the next step: it finished already, or this step failed
    // (which finishes it).
    bool isOver(const std::error_code& error) {
        if (!finished_ && error) {
            finish(PortMapperFailure::network(error));
        }
        return finished_;
    }

    void receive() {
        connection_->receive(HttpExchange::receiveSize,
                             [self = shared_from_this()](Bytes data, const std::error_code& error) {
                                 self->received(data, error);
                             });
    }

    void received(const Bytes& data, const std::error_code& error) {
        if (finished_) {
            return;
        }
        buffer_.insert(buffer_.end(), data.begin(), data.end());
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
        connection_->close();
        auto done = std::move(done_);
        done(std::move(result));
    }

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<TcpConnection> connection_;
    std::string host_;
    std::uint16_t port_;
    std::string request_;
    HttpExchange::Clock::duration timeout_;
    std::size_t sizeLimit_;
    HttpExchange::Completion done_;
    WorkItem timer_;
    Bytes buffer_;
    bool finished_ = false;
};

} // namespace

void HttpExchange::start(std::string host, std::uint16_t port, std::string request, Clock::duration timeout,
                         std::size_t sizeLimit, Completion done) {
    std::make_shared<Session>(std::move(host), port, std::move(request), timeout, sizeLimit, std::move(done))
        ->start();
}

} // namespace velm
