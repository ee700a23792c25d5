#pragma once

#include "platform/core/Date.h"
#include "platform/core/Uuid.h"
#include "platform/dispatch/GuardedCallback.h"
#include "platform/dispatch/Queue.h"
#include "platform/store/DefaultsStore.h"
#include "protocol/ConnectionLog.h"
#include "protocol/ConnectionRecord.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// The host's history of sessions, file connections and refused attempts: the one ConnectionLog,
// kept in the settings under "connectionHistory" and saved after every change.
//
// Sessions record from their own queues, so every operation may be called from any thread. The log
// sits behind `lock`, which is held only to read or change it, never while the settings are read or
// written: the views and a device asking for the history never wait for the disk. Each change holds
// `saveLock_` from its edit until the settings hold the log, so saves reach the settings one at a
// time and in the order of the changes, and an older log is never written last. After every change
// `onChange` runs on the main queue, where views redraw.
class ConnectionHistory : public std::enable_shared_from_this<ConnectionHistory> {
public:
    static constexpr std::string_view defaultsKey = "connectionHistory";
    // Texts from a device are kept to this many bytes (cut on a character boundary).
    static constexpr std::size_t maxTextBytes = 256;

    // Who a record is about, and how the connection came.
    struct Peer {
        std::string deviceID{};
        std::string deviceName{};
        ConnectionRecord::Route route = ConnectionRecord::Route::home;
        std::optional<std::string> from{};
        bool forwardSecret = false;
    };

    struct Options {
        std::function<Date()> now = Date::now;
    };

    // Loads the stored history (record by record: a damaged record is dropped, the rest kept),
    // closes records left open when the host last stopped, prunes and saves. Without settings
    // the history lives in memory only.
    static std::shared_ptr<ConnectionHistory> make(std::shared_ptr<DefaultsStore> defaults,
                                                   std::shared_ptr<Queue> mainQueue, Options options);
    static std::shared_ptr<ConnectionHistory> make(std::shared_ptr<DefaultsStore> defaults,
                                                   std::shared_ptr<Queue> mainQueue) {
        return make(std::move(defaults), std::move(mainQueue), Options{});
    }

    ConnectionHistory(const ConnectionHistory&) = delete;
    ConnectionHistory& operator=(const ConnectionHistory&) = delete;

    void setOnChange(std::function<void()> handler);

    ConnectionLog log() const;

    // Opens the record of an admitted session or file connection (a session that comes back
    // quickly reopens its record) and gives the id that closes it.
    Uuid begin(ConnectionRecord::Kind kind, const Peer& peer);
    // Closes the record; false when no open record has this id.
    bool end(const Uuid& id, ConnectionRecord::Ending ending);
    void recordRefusal(ConnectionRecord::Refusal refusal, const Peer& peer);
    // Removes every record that has ended. Records still running stay, so that their end is
    // still recorded (and whatever waits for it, such as an away visit, is not left hanging).
    void clear();

    // Writes the log to the settings; a log that cannot be written leaves the stored one as it was.
    void save();

private:
    ConnectionHistory(std::shared_ptr<DefaultsStore> defaults, std::shared_ptr<Queue> mainQueue,
                      Options options);

    // Edits the log under `lock` and saves it, then publishes; nothing when `edit` changed nothing.
    bool change(const std::function<bool(ConnectionLog&)>& edit);
    void load();
    // With `saveLock_` held.
    void takeInStored();
    void saveHeld();
    void publish();

    const std::shared_ptr<DefaultsStore> defaults_;
    const std::shared_ptr<Queue> mainQueue_;
    const Options options_;

    GuardedCallback<std::function<void()>> onChange_;

    // Taken before `lock`, never while holding it.
    std::mutex saveLock_;
    // False while the settings file could not be read: the stored history is not in the log yet, and
    // saving the log would write over it. Under `saveLock_`.
    bool storedInHand_ = false;
    mutable std::mutex lock;
    ConnectionLog log_;
};

} // namespace velm
