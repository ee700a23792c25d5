#pragma once

#include "Velm_Host/session/HelloAdmission.h"
#include "Velm_Host/session/HostNotice.h"
#include "Velm_Host/session/MessageTable.h"
#include "Velm_Host/session/SessionContext.h"
#include "Velm_Host/session/SessionStage.h"
#include "Velm_Host/session/SessionTextFocus.h"
#include "platform/core/Uuid.h"
#include "platform/dispatch/WorkItem.h"
#include "protocol/ByeReason.h"
#include "protocol/ClientHello.h"
#include "protocol/ConnectionRecord.h"
#include "protocol/StreamDescription.h"
#include "transport/channel/ControlChannel.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

class MainSession;
class OneShotAnswer;
class Queue;

// One client's connection, from its first message to its single end, on a serial queue of its own. It
// waits for the first message, admits the client its hello names, and hands the channel to the stage
// the message asks for: a one-shot answer (a pairing, the history, a glimpse, a file) or the main
// session that streams the desktop. A goodbye, a second opening and the close it handles itself.
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

    // What the session works with.
    using Context = SessionContext;

    // The first message must arrive within this time.
    static constexpr std::chrono::seconds helloTimeout{5};
    // A connection that had its answer (a pairing, a one-shot request) ends this long after it.
    static constexpr std::chrono::milliseconds answeredGrace{500};
    // The channel is cancelled this long after the end, so a goodbye goes out first.
    static constexpr std::chrono::milliseconds cancelDelay{100};
    static constexpr std::chrono::seconds idleTickInterval{1};
    // The text focus is watched less often once no input came for longer than this.
    static constexpr std::chrono::seconds textFocusQuietAfter = SessionTextFocus::quietAfter;
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
    // Ends the session, with that goodbye, when it was admitted for this device; a session whose hello
    // comes later is turned away by the registry, from which the device is gone by then.
    void closeForDevice(std::string deviceID, ByeReason reason);
    // Ends the session, once admitted, with the goodbye `verdict` gives for its device; none lets it go on.
    void closeByDevice(std::function<std::optional<ByeReason>(const std::string& deviceID)> verdict);
    // A changed idle time-out of the device, in seconds, for the session once admitted for it; none means
    // no limit.
    void setIdleTimeout(std::string deviceID, std::optional<double> seconds);

private:
    HostSession(std::shared_ptr<ControlChannel> channel, Context context, std::shared_ptr<Queue> queue);

    void begin();
    void handle(const ControlChannel::Event& event);
    // A goodbye or an opening, whatever the stage; other messages are the stage's.
    bool handledHere(const ControlMessage& message);

    // The first message, through the table of openings: admits the client where a hello says who it
    // is, then hands the channel to the stage the message asks for.
    static const MessageTable<HostSession>& openings();
    void openMain(const ControlMessage::Hello& message);
    void openPairing(const ControlMessage::PairRequest& message);
    void openHistory(const ControlMessage::RequestHistory& message);
    void openGlimpse(const ControlMessage::RequestGlimpse& message);
    void openFileTransfer(const ControlMessage::OpenFileTransfer& message);
    std::shared_ptr<OneShotAnswer> answer();
    void handOver(std::shared_ptr<SessionStage> stage);
    SessionStage::Setup stageSetup();

    // Admission.
    std::optional<HelloAdmission::Admitted> admit(const ClientHello& hello);
    void recordVisit(const ClientHello& hello, const HelloAdmission::Admitted& admission);
    ConnectionHistory::Peer peerOf(const ClientHello& hello) const;
    void notice(HostNotice notice) const;

    // The end.
    void end(ConnectionRecord::Ending ending, std::optional<ByeReason> goodbye);
    static ConnectionRecord::Ending endingOf(ByeReason reason);

    const std::shared_ptr<ControlChannel> channel_;
    const std::shared_ptr<const Context> context_;
    const std::shared_ptr<Queue> queue_;

    // Set before start, then touched on the queue only.
    std::function<void(Snapshot)> onAuthenticated_;
    std::function<void(Snapshot)> onSnapshot_;
    std::function<void(Ended)> onEnded_;
    std::function<void(HostNotice)> onNotice_;

    // Touched on the queue only.
    // Null while the first message is awaited.
    std::shared_ptr<SessionStage> stage_;
    // The stage when it is the main session.
    std::shared_ptr<MainSession> main_;
    std::optional<ClientHello> hello_;
    std::optional<Uuid> record_;
    std::optional<std::string> peer_;
    ConnectionRecord::Route route_ = ConnectionRecord::Route::elsewhere;
    WorkItem helloTimer_;
    bool isEnded_ = false;
};

} // namespace velm
