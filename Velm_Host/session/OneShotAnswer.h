#pragma once

#include "Velm_Host/session/SessionFileTransfer.h"
#include "Velm_Host/session/SessionStage.h"
#include "platform/dispatch/WorkItem.h"

#include <memory>

namespace velm {

// A connection that asks one thing: a pairing, the history, a glimpse of the desktop or one file. It
// sends its answer and ends `HostSession::answeredGrace` after the answer has left, unless the client
// closes first.
class OneShotAnswer final : public SessionStage, public std::enable_shared_from_this<OneShotAnswer> {
public:
    static std::shared_ptr<OneShotAnswer> make(Setup setup);

    // Answers a pairing (the registry decides); not admitted by a hello.
    void pair(const PairRequest& request);
    // The others come only after their hello was admitted.
    void sendHistory();
    void sendGlimpse();
    void transferFile(const FileTransferRequest& request);

    void receive(const ControlChannel::Event& event) override;
    void stop() override;

private:
    explicit OneShotAnswer(Setup setup) : setup_(std::move(setup)) {}

    void channelClosed();
    void fileFinished(SessionFileTransfer::Outcome outcome);
    void sendAnswer(const ControlMessage& message);
    void answered();
    SessionDesktop& startDesktop();

    const Setup setup_;

    // Touched on the queue only.
    std::shared_ptr<SessionDesktop> desktop_;
    std::shared_ptr<SessionFileTransfer> fileTransfer_;
    WorkItem answeredTimer_;
    bool isAnswered_ = false;
    bool isChannelClosed_ = false;
    bool isStopped_ = false;
};

} // namespace velm
