#include "Velm_Host/session/SessionVideoSocket.h"

#include "platform/crypto/ConstantTime.h"
#include "platform/crypto/SecureWipe.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "transport/channel/VelmService.h"

#include <utility>

namespace velm {

namespace {

const Log sessionVideoSocketLog("session");

} // namespace

std::shared_ptr<SessionVideoSocket> SessionVideoSocket::open(SecretBytes videoKey, SecretBytes sessionToken,
                                                             std::shared_ptr<Queue> queue) {
    auto socket = UdpSocket::bound(VelmService::udpParameters());
    const auto local = socket ? socket->localAddress() : std::nullopt;
    if (!local) {
        sessionVideoSocketLog.error("video port could not be opened");
        return nullptr;
    }
    return std::shared_ptr<SessionVideoSocket>(new SessionVideoSocket(
        std::move(*socket), local->port, std::move(videoKey), std::move(sessionToken), std::move(queue)));
}

SessionVideoSocket::SessionVideoSocket(UdpSocket socket, std::uint16_t port, SecretBytes videoKey,
                                       SecretBytes sessionToken, std::shared_ptr<Queue> queue)
    : queue_(std::move(queue)), port_(port), sessionToken_(std::move(sessionToken)),
      socket_(std::move(socket)), opener_(std::move(videoKey), PacketDirection::clientToHost, true) {}

void SessionVideoSocket::setOnFlowAdopted(std::function<void(SocketAddress client)> handler) {
    onFlowAdopted_ = std::move(handler);
}

void SessionVideoSocket::start() {
    receiveNext();
}

void SessionVideoSocket::close() {
    closed_ = true;
    onFlowAdopted_ = nullptr;
    socket_.close();
    // A keyless opener refuses everything; the keyed one wipes its key as it goes.
    opener_ = PacketOpener(SecretBytes(), PacketDirection::clientToHost, true);
    sessionToken_ = SecretBytes();
}

void SessionVideoSocket::receiveNext() {
    socket_.receive(maxDatagramSize, queue_, whileAlive(shared_from_this(), &SessionVideoSocket::received));
}

void SessionVideoSocket::received(const UdpSocket::Datagram& datagram, const std::optional<NetError>& error) {
    if (closed_ || (error && error->kind == NetError::Kind::cancelled)) {
        return;
    }
    if (!error && !flow_ && opensWithToken(datagram.bytes)) {
        flow_ = datagram.sender;
        sessionVideoSocketLog.info("video flow adopted");
        if (onFlowAdopted_) {
            onFlowAdopted_(datagram.sender);
        }
    }
    // Until there is a video pipeline, what the adopted flow sends (feedback, resend requests) has no
    // taker; everything else is a stranger's.
    receiveNext();
}

bool SessionVideoSocket::opensWithToken(ByteView datagram) {
    auto plaintext = opener_.open(datagram);
    if (!plaintext) {
        return false;
    }
    const bool carriesToken =
        plaintext->size() >= sessionToken_.size() &&
        constantTimeEqual(ByteView(*plaintext).first(sessionToken_.size()), sessionToken_);
    // The plaintext begins with the token.
    secureWipe(*plaintext);
    return carriesToken;
}

} // namespace velm
