#include "platform/net/TlsConnection.h"

#include "platform/net/TlsStream.h"

namespace velm {

std::shared_ptr<TlsConnection> TlsConnection::connect(const HostPort& target, const TlsParameters& parameters,
                                                      Duration connectTimeout) {
    return std::shared_ptr<TlsConnection>(
        new TlsConnection(TlsStream::outgoing(target, parameters, connectTimeout)));
}

TlsConnection::TlsConnection(std::shared_ptr<TlsStream> stream) : stream_(std::move(stream)) {}

TlsConnection::~TlsConnection() {
    stream_->release();
}

void TlsConnection::setOnState(StateHandler handler) {
    stream_->setStateHandler(std::move(handler));
}

void TlsConnection::start(std::shared_ptr<Queue> queue) {
    stream_->start(std::move(queue));
}

void TlsConnection::receive(std::size_t minimum, std::size_t maximum, ReceiveCompletion completion) {
    stream_->receive(minimum, maximum, std::move(completion));
}

void TlsConnection::send(Bytes content, SendCompletion completion) {
    stream_->send(std::move(content), std::move(completion));
}

void TlsConnection::cancel() {
    stream_->cancel();
}

void TlsConnection::forceCancel() {
    stream_->forceCancel();
}

TlsConnection::State TlsConnection::state() const {
    return stream_->state();
}

std::optional<Bytes> TlsConnection::exportKeyingMaterial(std::string_view label, std::size_t length) const {
    return stream_->engine().exportKeyingMaterial(label, length);
}

std::optional<std::uint16_t> TlsConnection::cipherSuite() const {
    return stream_->engine().cipherSuite();
}

std::optional<std::string> TlsConnection::pskIdentity() const {
    return stream_->engine().pskIdentity();
}

std::optional<std::uint64_t> TlsConnection::lentKeyTag() const {
    return stream_->engine().lentKeyTag();
}

std::vector<std::string> TlsConnection::interfaceNames() const {
    return stream_->interfaceNames();
}

std::optional<std::string> TlsConnection::remoteHost() const {
    return stream_->remoteHost();
}

} // namespace velm
