#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

struct sd_bus;
struct sd_bus_message;

namespace velm {

// One connection to a D-Bus bus, served by a thread of its own. sd-bus objects belong to one thread,
// so every use of the bus happens there: in tasks posted to it and in the reply and signal handlers
// those tasks install. The services over it (notifications, and later the session lock and the
// screensaver) keep their bus-side state on this thread and hand results to their owner's queue.
//
// A bus that goes away is logged once ("dbus"); calls still waiting then get an error reply, later
// calls fail at once, and the thread carries on serving tasks until the connection is dropped. A bus
// that takes the connection but does not finish setting it up (frozen, or no bus at all behind the
// socket) counts as gone once its set-up limit has passed.
class BusConnection {
public:
    using Task = std::function<void(BusConnection&)>;
    // The reply of a method call, or the error that took its place ("name: message").
    using ReplyHandler = std::function<void(sd_bus_message* reply, const std::optional<std::string>& error)>;
    using SignalHandler = std::function<void(sd_bus_message* signal)>;
    // A name's unique owner, or empty while nobody owns it.
    using OwnerHandler = std::function<void(const std::string& owner)>;
    using LossHandler = std::function<void()>;

    // sd-bus itself gives the authentication a minute and a half, and holds every call back meanwhile.
    static constexpr std::chrono::milliseconds defaultSetupLimit{10000};

    // Whether a missing bus is a fault worth an error in the log, or the way things are (a session bus
    // where no one logged in to a desktop).
    enum class Absence { error, expected };

    // The user's session bus ($DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus); nothing when it
    // cannot be reached.
    static std::shared_ptr<BusConnection> session(Absence absence = Absence::error);
    // The machine's system bus; nothing when it cannot be reached.
    static std::shared_ptr<BusConnection> system();
    // The bus at a D-Bus address ("unix:path=..."); nothing when it cannot be reached.
    static std::shared_ptr<BusConnection> open(const std::string& address,
                                               std::chrono::milliseconds setupLimit = defaultSetupLimit);

    // Stops the thread and closes the connection; tasks not yet run and handlers not yet called are
    // dropped. From the bus thread itself (the last owner let go inside a handler) the thread ends by
    // itself once that handler returns.
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    // Runs `task` on the bus thread, after the tasks posted before it.
    void post(Task task);
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

    // On the bus thread only, from here on.
    sd_bus* bus();
    // Sends a method call and hands its reply to `handler` on the bus thread, once. False, and the
    // handler dropped uncalled, when the call could not be sent.
    bool call(sd_bus_message* message, std::chrono::milliseconds timeout, ReplyHandler handler);
    // Hands every signal of `interface`.`member` sent from `path` to `handler` on the bus thread, for as
    // long as the connection lasts. Anyone on the bus may send such a signal: the handler checks the
    // sender. False when the bus refused the match.
    bool watchSignal(const char* path, const char* interface, const char* member, SignalHandler handler);
    // The same for the signals a D-Bus match rule selects ("type='signal',...,arg0='name'"), for a watch
    // the bus should narrow down before anything reaches this process.
    bool watchMatch(const std::string& rule, SignalHandler handler);
    // Hands the unique owner of a well-known name to `handler` on the bus thread: first as the bus tells it
    // now (empty when it cannot be asked), then at every change. A service trusts what is said in its name
    // only from this owner, which changes when the service restarts.
    void followOwner(const std::string& name, std::chrono::milliseconds timeout, OwnerHandler handler);
    // Calls `handler` on the bus thread once the connection is lost, at once when it is lost already:
    // nothing said on the bus reaches this process any more, so what was heard is out of date. Call it from
    // a task, as the handlers it keeps are the bus thread's.
    void watchLoss(LossHandler handler);

    // The unique name that sent a message; empty when it says none.
    static std::string senderOf(sd_bus_message* message);

private:
    struct Core;

    explicit BusConnection(std::shared_ptr<Core> core);
    static std::shared_ptr<BusConnection> start(sd_bus* bus, const std::string& name,
                                                std::chrono::milliseconds setupLimit);

    std::shared_ptr<Core> core_;
    std::thread thread_;
};

} // namespace velm
