#pragma once

#include "Velm_Host/core/ConnectionHistory.h"
#include "Velm_Host/session/HelloAdmission.h"
#include "Velm_Host/session/HostNotice.h"
#include "Velm_Host/session/SessionCurtain.h"
#include "Velm_Host/session/SessionDesktop.h"
#include "Velm_Host/session/SessionTextFocus.h"
#include "input/Geometry.h"
#include "platform/core/Uuid.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/store/XdgDirs.h"
#include "protocol/ByeReason.h"
#include "protocol/ClientHello.h"
#include "protocol/ConnectionRecord.h"
#include "protocol/DeviceModel.h"
#include "protocol/StreamDescription.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/IdleClock.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm {

class DeviceRegistry;
class InputSink;
class Queue;
class SessionFileTransfer;
class SessionVideoSocket;

// One client's connection, from its first message to its single end, on a serial queue of its own: a
// pairing, a one-shot request (history, a glimpse, a file) or the main session that streams the desktop.
//
// The owner (the host model) makes it around an accepted channel, sets its reports and starts it; it
// keeps the session until `onEnded`. Every report runs on the session's queue. close() and
// setIdleTimeout() may be called from any thread and hop onto the queue.
class HostSession : public std::enable_shared_from_this<HostSession> {
public:
    using Clock = std::chrono::steady_clock;

    // What the user interface and the history show of a live main session.
    struct Snapshot {
        std::string deviceID;
        std::string deviceName;
        std::optional<std::string> from; // the peer's numeric address
        std::optional<StreamDescription> stream;
        bool isPaused = false;
        bool isAway = false; // the session came through the door

        friend bool operator==(const Snapshot&, const Snapshot&) = default;
    };

    struct Ended {
        ConnectionRecord::Ending ending;
        // The main session as it last stood; absent for anything that never became one.
        std::optional<Snapshot> snapshot;
    };

    // Given the session's video port, forwards it on the router for a session from away and completes
    // with the external port, or nothing.
    using ForwardVideoPort =
        std::function<void(std::uint16_t port, std::function<void(std::optional<std::uint16_t>)> completion)>;
    using RouteFinder =
        std::function<ConnectionRecord::Route(bool throughDoor, const std::optional<std::string>& peer,
                                              const std::vector<std::string>& interfaces)>;

    // What the session works with. Its own parts of the desktop are made on its queue only when it
    // needs them: the desktop once a client is admitted to a request or session that shows it, the
    // text focus once a main session is admitted, the input sink at the first stream. A connection
    // that never gets in thus costs no X connection. The curtain comes with the session.
    struct Context {
        std::shared_ptr<DeviceRegistry> registry;
        std::shared_ptr<ConnectionHistory> history;
        std::function<std::shared_ptr<SessionDesktop>()> makeDesktop;
        std::function<std::shared_ptr<InputSink>()> makeInput;
        // None, or one that gives none: the client is never told where text goes.
        std::function<std::shared_ptr<SessionTextFocus>()> makeTextFocus;
        // None: a host without a curtain.
        std::shared_ptr<SessionCurtain> curtain;

        // How the host's hello presents this computer.
        std::string hostName;
        std::optional<DeviceModel> hostModel;
        std::optional<bool> hasDisplay;
        // Where away access says the host is reached from outside, when it knows.
        std::optional<std::string> awayAddress;
        // Set only for a session that came through the door.
        ForwardVideoPort forwardVideoPort;

        std::filesystem::path downloadFolder = XdgDirs::home() / "Downloads";
        // Home, door or elsewhere; HomeNetwork's judgement unless a test says otherwise.
        RouteFinder route;
    };

    // The first message must arrive within this time.
    static constexpr std::chrono::seconds helloTimeout{5};
    // A connection that had its answer (a pairing, a one-shot request) ends this long after it.
    static constexpr std::chrono::milliseconds answeredGrace{500};
    // The channel is cancelled this long after the end, so a goodbye goes out first.
    static constexpr std::chrono::milliseconds cancelDelay{100};
    static constexpr std::chrono::seconds idleTickInterval{1};
    // The text focus is watched less often once no input came for longer than this.
    static constexpr std::chrono::seconds textFocusQuietAfter{5};
    static constexpr std::size_t videoKeySize = 32;
    static constexpr std::size_t sessionTokenSize = 16;

    // `queue` is the session's own ("velm.host.session"); tests give a ManualQueue.
    static std::shared_ptr<HostSession> make(std::shared_ptr<ControlChannel> channel, Context context,
                                             std::shared_ptr<Queue> queue);

    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Set before start.
    // A main session was admitted and the client has the host's hello.
    void setOnAuthenticated(std::function<void(Snapshot)> handler);
    // The main session's stream was described or paused.
    void setOnSnapshot(std::function<void(Snapshot)> handler);
    // Exactly once, after everything the session held was stopped.
    void setOnEnded(std::function<void(Ended)> handler);
    // A device paired, a hello turned away, a file received.
    void setOnNotice(std::function<void(HostNotice)> handler);

    // Starts the channel and the wait for the first message. Call once.
    void start();
    // Ends the session, with a goodbye when there is a reason.
    void close(std::optional<ByeReason> reason);
    // A changed idle time-out of the device, in seconds; none means no limit.
    void setIdleTimeout(std::optional<double> seconds);

private:
    enum class Stage {
        waiting,   // for the first message
        answering, // a pairing or one-shot request, until it is answered and ends
        admitting, // a main session waits for its video port to be forwarded
        running,   // the main session
        ended,
    };

    HostSession(std::shared_ptr<ControlChannel> channel, Context context, std::shared_ptr<Queue> queue);

    void begin();
    void handle(const ControlChannel::Event& event);
    void handleFirst(const ControlMessage& message);
    void handleRunning(const ControlMessage& message);

    // Admission.
    void handleControl(const ControlMessage& message);
    std::optional<HelloAdmission::Admitted> admit(const ClientHello& hello);
    void recordVisit(const ClientHello& hello, const HelloAdmission::Admitted& admission);
    ConnectionHistory::Peer peerOf(const ClientHello& hello) const;
    void pair(const PairRequest& request);
    void serveHistory(const ClientHello& hello);
    void serveGlimpse(const ClientHello& hello);
    void serveFile(const ClientHello& hello, const FileTransferRequest& request);
    void answered();
    void notice(HostNotice notice) const;

    // The main session.
    void openMain(const ClientHello& hello);
    void videoPortForwarded(std::optional<std::uint16_t> externalPort);
    void sendHostHello(std::uint16_t videoPort);
    SessionDesktop& desktop();
    void startDesktop();
    void startInput();
    void scheduleIdleTick();
    void idleTick();
    void activity();
    void inputArrived(const InputEvent& event);
    void configureStream(const StreamRequest& request);
    void pause();
    void pointerMoved(SessionDesktop::PointerFraction position);
    void watchTextFocus(const std::optional<SessionDesktop::Area>& screen);
    void stopTextFocus();
    void quietTextFocus();
    void textFocusChanged(std::uint64_t watch, bool takesText);
    void textAreaChanged(std::uint64_t watch, std::optional<Rect> frame);
    void sendClipboard(const ClipboardMessage& message);
    void sendWhileRunning(const ControlMessage& message);
    void publishSnapshot();
    Uuid beginRecord(ConnectionRecord::Kind kind);

    // The end.
    void closeOnQueue(std::optional<ByeReason> reason);
    void end(ConnectionRecord::Ending ending, std::optional<ByeReason> goodbye);
    void stopParts();
    static ConnectionRecord::Ending endingOf(ByeReason reason);
    double clockSeconds() const;

    const std::shared_ptr<ControlChannel> channel_;
    const Context context_;
    const std::shared_ptr<Queue> queue_;

    // Set before start, then touched on the queue only.
    std::function<void(Snapshot)> onAuthenticated_;
    std::function<void(Snapshot)> onSnapshot_;
    std::function<void(Ended)> onEnded_;
    std::function<void(HostNotice)> onNotice_;

    // Touched on the queue only.
    Stage stage_ = Stage::waiting;
    std::optional<ClientHello> hello_;
    std::optional<Snapshot> snapshot_;
    std::optional<Uuid> record_;
    std::optional<IdleClock> idleClock_;
    std::optional<bool> holdsAnotherAwayKey_;
    std::optional<std::string> peer_;
    ConnectionRecord::Route route_ = ConnectionRecord::Route::elsewhere;
    Bytes videoKey_;
    Bytes sessionToken_;
    std::shared_ptr<SessionDesktop> desktop_;
    std::shared_ptr<InputSink> input_;
    std::shared_ptr<SessionTextFocus> textFocus_;
    std::shared_ptr<SessionVideoSocket> video_;
    std::shared_ptr<SessionFileTransfer> fileTransfer_;
    WorkItem helloTimer_;
    WorkItem idleTimer_;
    WorkItem answeredTimer_;
    // Each watch of the text focus is numbered, so that what an earlier one reported on its way here
    // is dropped; 0 while none runs.
    std::uint64_t textFocusWatch_ = 0;
    std::uint64_t lastTextFocusWatch_ = 0;
    // The described screen the field's frame is measured against.
    Rect textFocusScreen_;
    bool textFocusQuiet_ = false;
    Clock::time_point lastInput_{};
    bool desktopStarted_ = false;
    bool answered_ = false;
    bool channelClosed_ = false;
};

} // namespace velm
