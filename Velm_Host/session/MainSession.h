#pragma once

#include "Velm_Host/session/HelloAdmission.h"
#include "Velm_Host/session/HostSession.h"
#include "Velm_Host/session/MessageTable.h"
#include "Velm_Host/session/OneAtATime.h"
#include "Velm_Host/session/SessionStage.h"
#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/dispatch/WorkItem.h"
#include "protocol/ClientHello.h"
#include "transport/channel/IdleClock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velm {

class InputSink;
class SessionTextFocus;
class SessionVideoSocket;

// The session that streams the desktop to an admitted client. It draws its video key and session token,
// opens its video socket, waits for `HostSession::forwardVideoPort` when away access set one, then sends
// the host's hello. From then on it answers pings, keeps the idle clock, hands input to the injector
// while a stream is described, and serves streams, clipboard, apps and the curtain.
class MainSession final : public SessionStage, public std::enable_shared_from_this<MainSession> {
public:
    using Snapshot = HostSession::Snapshot;

    static std::shared_ptr<MainSession> make(Setup setup, ClientHello hello,
                                             HelloAdmission::Admitted admission, Snapshot snapshot);

    // Set before start.
    // The client has the host's hello.
    void setOnRunning(std::function<void(Snapshot)> handler) { onRunning_ = std::move(handler); }
    // The stream was described or paused.
    void setOnSnapshot(std::function<void(Snapshot)> handler) { onSnapshot_ = std::move(handler); }

    void start();
    // The host's hello went out.
    bool isRunning() const { return isRunning_; }
    const Snapshot& snapshot() const { return snapshot_; }
    void setIdleTimeout(std::optional<double> seconds);

    void receive(const ControlChannel::Event& event) override;
    void stop() override;

private:
    using Message = ControlMessage;

    MainSession(Setup setup, ClientHello hello, HelloAdmission::Admitted admission, Snapshot snapshot);

    void videoPortForwarded(std::optional<std::uint16_t> externalPort);
    void sendHostHello(std::uint16_t videoPort);
    void forgetSecrets();
    SessionDesktop& desktop();
    void startDesktop();
    void startInput();
    void followDescribedScreen();
    void scheduleIdleTick();
    void idleTick();
    void activity();
    void inputArrived(const InputEvent& event);
    void pointerMoved(SessionDesktop::PointerFraction position);
    void sendWhileRunning(const ControlMessage& message);
    void sendPages(std::shared_ptr<const std::vector<ControlMessage>> pages);
    void sendOneAfterAnother(std::shared_ptr<const std::vector<ControlMessage>> messages, std::size_t next);
    void publishSnapshot();
    double clockSeconds() const;

    // The client's messages, through the one table.
    static const MessageTable<MainSession>& messages();
    void ping(const Message::Ping& ping);
    void stillHere(const Message::StillHere&);
    void configureStream(const Message::ConfigureStream& configure);
    void pause(const Message::PauseStream&);
    void listApps(const Message::ListApps&);
    void listInstalledApps(const Message::ListInstalledApps&);
    void sendDeviceImage(const Message::RequestDeviceImage&);
    // After an answer: true when the client asked again meanwhile and is still served.
    bool asksAgain(OneAtATime& question) const;
    void askRunningApps();
    void askInstalledApps();
    void askDeviceImage();
    void setCurtain(const Message::SetCurtain& curtain);

    const Setup setup_;
    const ClientHello hello_;
    const HelloAdmission::Admitted admission_;

    std::function<void(Snapshot)> onRunning_;
    std::function<void(Snapshot)> onSnapshot_;

    // Touched on the queue only.
    Snapshot snapshot_;
    std::optional<IdleClock> idleClock_;
    // Held until the host's hello carries them.
    SecretBytes videoKey_;
    SecretBytes sessionToken_;
    std::shared_ptr<SessionVideoSocket> video_;
    std::shared_ptr<SessionDesktop> desktop_;
    std::shared_ptr<InputSink> input_;
    std::shared_ptr<SessionTextFocus> textFocus_;
    // Where the described stream's input plays now.
    std::optional<SessionDesktop::Area> describedArea_;
    WorkItem idleTimer_;
    // A list of installed applications asked for while another is on its way waits for it whole: the
    // client reads pages up to the last. Only the latest such list waits.
    std::shared_ptr<const std::vector<ControlMessage>> waitingPages_;
    bool isSendingPages_ = false;
    // Each list carries every icon: a client asking faster than they are made has each made once at a time.
    OneAtATime runningAsked_;
    OneAtATime installedAsked_;
    OneAtATime deviceImageAsked_;
    bool isRunning_ = false;
    bool isStopped_ = false;
    bool desktopStarted_ = false;
};

} // namespace velm
