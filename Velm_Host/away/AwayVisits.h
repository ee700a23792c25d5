#pragma once

#include "Velm_Host/away/AwayVisit.h"
#include "platform/core/Date.h"
#include "platform/core/Uuid.h"
#include "platform/dbus/Notifications.h"
#include "platform/dispatch/GuardedCallback.h"
#include "platform/dispatch/Queue.h"
#include "platform/store/DefaultsStore.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// The short list of sessions that came from away, kept in the settings under "awayVisits", and the
// notice that tells the user each time a device connects from away, with buttons to disconnect it or
// to remove the device.
//
// A notice stays until the user dismisses it, whatever becomes of its visit: removing the device is the
// answer to "Not you?" at any time, and a session that continues a visit within reopenSeconds brings
// no notice of its own, so the first one must still reach it. Each button acts on the device its
// notice named.
//
// Every operation may be called from any thread; the state sits behind `lock`. Reports (changes and
// the notice's buttons) run on the queue given to make, the host model's main queue.
class AwayVisits : public std::enable_shared_from_this<AwayVisits> {
public:
    static constexpr std::string_view defaultsKey = "awayVisits";
    static constexpr std::size_t maxVisits = 20;
    // A session that starts less than this long after its device's newest visit ended continues that
    // visit: a quick reconnect adds no visit and no second notice.
    static constexpr double reopenSeconds = 600;
    // Texts from a device are kept to this many bytes.
    static constexpr std::size_t maxTextBytes = 256;
    static constexpr std::string_view noticeCategory = "away-session";
    static constexpr std::string_view disconnectAction = "disconnect";
    static constexpr std::string_view removeDeviceAction = "remove-device";
    // Notices still shown whose buttons are remembered; one beyond this many newer ones no longer acts.
    static constexpr std::size_t maxNotices = 64;

    // One away session as the visits know it, handed back at its end: a session that a newer one of
    // the same device took over then ends nothing.
    struct Session {
        std::string deviceID;
        std::uint64_t number = 0;
        friend bool operator==(const Session&, const Session&) = default;
    };

    using DeviceHandler = std::function<void(const std::string& deviceID)>;

    // Loads the stored visits and closes those left open by an earlier run at their start; nothing is
    // written back yet. Without settings the visits live in memory; without notifications no notice
    // is shown.
    static std::shared_ptr<AwayVisits> make(std::shared_ptr<DefaultsStore> defaults,
                                            std::shared_ptr<Notifications> notifications,
                                            std::shared_ptr<Queue> queue);

    AwayVisits(const AwayVisits&) = delete;
    AwayVisits& operator=(const AwayVisits&) = delete;

    // The notice's buttons, with the device the notice named, at any time after it was shown.
    void setOnDisconnect(DeviceHandler handler);
    void setOnRemoveDevice(DeviceHandler handler);
    // After every change of visits() or noticesAllowed().
    void setOnChange(std::function<void()> handler);

    // Newest first.
    std::vector<AwayVisit> visits() const;
    // True until an answer about notices says otherwise.
    bool noticesAllowed() const;

    // An away session was admitted. Opens a visit and shows its notice, or continues the device's
    // newest visit when that is open or ended less than reopenSeconds before `at`.
    Session sessionStarted(const std::string& deviceID, const std::string& deviceName,
                           const std::optional<std::string>& from, Date at);
    // The session's history record closed: ends its visit, unless a newer session holds it.
    void sessionEnded(const Session& session, Date at);
    // The answer to the question whether notices can be shown, with buttons.
    void requestNotices(const Notifications::Check& answer);

private:
    // A notice still shown, and the device it names.
    struct ShownNotice {
        std::uint32_t id = 0;
        std::string deviceID;
    };

    AwayVisits(std::shared_ptr<DefaultsStore> defaults, std::shared_ptr<Notifications> notifications,
               std::shared_ptr<Queue> queue);

    void load();
    void listen();
    void showNotice(const AwayVisit& visit);
    void noticeShown(const std::string& deviceID, std::optional<std::uint32_t> noticeID,
                     const std::string& error);
    void noticeAction(std::uint32_t noticeID, const std::string& actionKey);
    void noticeClosed(std::uint32_t noticeID);
    // With `lock` held.
    void forgetNoticeLocked(std::uint32_t noticeID);
    void takeInStoredLocked();
    void saveLocked();
    void dropOldestLocked();
    void publish();

    const std::shared_ptr<DefaultsStore> defaults_;
    const std::shared_ptr<Notifications> notifications_;
    const std::shared_ptr<Queue> queue_;

    GuardedCallback<std::function<void()>> onChange_;

    mutable std::mutex lock;
    std::vector<AwayVisit> visits_;
    // False while the settings file could not be read: the stored visits are not in the list yet, and
    // saving the list would write over them.
    bool storedInHand_ = false;
    bool noticesAllowed_ = true;
    // The session that holds each open visit.
    std::map<Uuid, std::uint64_t> holders_;
    std::uint64_t lastSession_ = 0;
    // Oldest first.
    std::deque<ShownNotice> notices_;
    DeviceHandler onDisconnect_;
    DeviceHandler onRemoveDevice_;
};

} // namespace velm
