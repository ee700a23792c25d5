#pragma once

#include "Velm_Host/core/HelloCheck.h"
#include "Velm_Host/core/PairedDevice.h"
#include "Velm_Host/core/PairedDeviceStore.h"
#include "Velm_Host/core/PairingWindow.h"
#include "Velm_Host/core/PairingWindowKeeper.h"
#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/dispatch/GuardedCallback.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/net/TlsKeyLender.h"
#include "protocol/PairRequest.h"
#include "protocol/PairResponse.h"
#include "transport/keys/PreSharedKey.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velm {

// The paired devices and the pairing window.
//
// Every operation may be called from any thread. The state sits behind `lock`, which is held only
// to read or replace it, never while the secrets store reads or writes: readers and handshakes
// never wait for a save of the list.
//
// The list changes one change at a time, each under `saveLock_` from start to end: it takes its
// copy of the list under `lock`, saves the changed copy outside it, and only once the store holds
// that copy puts it in memory. So saves reach the store one at a time and in the order of the
// changes, each made from the list the one before left, and an older list is never written last.
// Readers see the list last stored (while a save is under way, the one before it): a change the
// store refuses is dropped, and memory keeps what is stored. A pairing answers once its own save
// is done, and is refused when that save failed.
//
// After every change `onChange` runs on the owner's queue, where the owner publishes the new state
// and hands the listener its new keys. The pairing window (PairingWindowKeeper) sits behind `lock`
// too, and its expiry is a timer on that queue.
class DeviceRegistry : public std::enable_shared_from_this<DeviceRegistry> {
public:
    enum class PairFailure {
        notPairingConnection, // the connection was not admitted by the code's key
        noPairingWindow,      // the window that admitted the connection is no longer open
        noSessionBinding,     // the connection offers no binding to seal the key to
        invalidDeviceID,      // empty, too long, reserved or holding a NUL
        malformedKey,         // the device's public key is not a raw X25519 key
        keyExchangeFailed,    // the key agreement was refused (a low-order point)
        tooManyDevices,
        notSaved, // the secrets store refused the new list
    };

    enum class UpdateResult { updated, notFound, notSaved };

    struct Options {
        // The wall clock; tests tie it to a ManualQueue.
        std::function<Date()> now = Date::now;
    };

    // Names are kept to this many bytes (cut on a character boundary).
    static constexpr std::size_t maxNameBytes = 256;
    // The name of a device that gave none that shows.
    static constexpr std::string_view unnamedDeviceName = "Device";
    static constexpr std::chrono::seconds oneDay{86'400};
    static constexpr int defaultAwayAccessDays = 30;
    // A stored list that cannot be read is read again after this, then after twice as long each
    // time, up to the longest wait.
    static constexpr std::chrono::seconds unreadListFirstRetry{5};
    static constexpr std::chrono::seconds unreadListLongestRetry{600};

    // `queue` is the owner's: the pairing window's expiry and every onChange run there.
    static std::shared_ptr<DeviceRegistry> make(PairedDeviceStore store, std::string hostID,
                                                std::shared_ptr<Queue> queue, Options options);
    static std::shared_ptr<DeviceRegistry> make(PairedDeviceStore store, std::string hostID,
                                                std::shared_ptr<Queue> queue) {
        return make(std::move(store), std::move(hostID), std::move(queue), Options{});
    }

    ~DeviceRegistry();
    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;

    void setOnChange(std::function<void()> handler);
    // A wrong pairing code was checked, with the tries the window has left; runs on the owner's queue
    // before the change that closes a window out of tries.
    void setOnWrongCode(std::function<void(int triesLeft)> handler);

    // Reads the stored devices. With none paired, a code carried over from an earlier version
    // opens a window that never expires and allows carriedOverWrongTries; with devices paired, the
    // code is forgotten. A stored list that cannot be read now is never saved over: it is read again
    // before each change and on the owner's queue (unreadListFirstRetry), and until it can be, the
    // registry holds no devices and refuses every change (notSaved).
    void load();

    std::vector<PairedDevice> devices() const;
    std::optional<PairedDevice> device(std::string_view id) const;
    std::optional<PairingWindow> pairingWindow() const;
    // What the host listener admits: each device's key under its identifier, and the code's key
    // while a window is open.
    std::vector<PreSharedKey> listenerKeys() const;

    // The window the main window opens: a new code, standardDuration, standardWrongTries.
    PairingWindow openNewPairing(bool reusable);
    // Replaces any open window. No duration: the window stays until it is closed or used up. A
    // wrong-try budget below one counts as one. A carried-over code it replaces is forgotten, as it is
    // when its window is closed.
    PairingWindow openPairing(std::string code, std::optional<std::chrono::seconds> duration, int wrongTries,
                              bool reusable);
    void closePairing();

    // The code's key for a handshake that offers the code's identity, lent with one of the
    // window's tries taken for as long as the handshake holds it, and tagged with the window. A
    // wrong code costs the try, and the last try closes the window; the try comes back when the
    // handshake completes or ends before it checked the code. Nothing while no window is open or
    // while every try left is lent: so no more codes are ever checked than the window allows,
    // however many arrive at once.
    std::optional<TlsKeyLender::Loan> lendPairingKey();
    // The key of the device with this identifier, as the registry holds it now; nothing for a device
    // that is not paired. Nothing to settle: it is lent to say what admits a handshake at its moment.
    std::optional<TlsKeyLender::Loan> lendDeviceKey(std::string_view id) const;
    // The host listener's lender of every key it admits, looked up as each handshake asks: the code's
    // (lendPairingKey) and each device's (lendDeviceKey). So a device admitted the moment its pairing
    // answer arrives, and one forgotten a moment ago refused, whatever the listener was last told. It
    // holds the registry weakly.
    std::shared_ptr<TlsKeyLender> listenerKeyLender();

    // Pairs the device that asks on a connection admitted by the code's key (`admittedBy`, the
    // connection's pre-shared-key identity) while the window whose key admitted it is still open
    // (`admittedUnder`, the tag of that loan): a code closed or replaced since pairs nothing. Makes
    // its device key, seals it to the request's public key bound to the session, and stores the
    // device. A device that was paired before is replaced, key and all. A window that is not
    // reusable closes. The answer waits for the device's save; a window that ends while it is
    // saved does not undo the pairing.
    std::variant<PairResponse, PairFailure> pair(const PairRequest& request, ByteView binding,
                                                 std::string_view admittedBy,
                                                 std::optional<std::uint64_t> admittedUnder);

    // Checks a hello's proof against the key of the device it names.
    HelloCheck checkHello(std::string_view deviceID, const std::optional<Bytes>& proof,
                          const std::optional<Bytes>& binding) const;

    // Removes one device, or every device when no identifier is given; its key goes with it.
    // False when the new list could not be saved (nothing is removed then).
    bool remove(std::optional<std::string_view> id);
    // The name a device gave, as it is kept: bounded, and unnamedDeviceName when it shows nothing.
    static std::string keptName(std::string_view given);

    // Changes one device and saves. The identifier and the key cannot be changed this way, and a
    // name that shows nothing keeps the one the device had (else becomes unnamedDeviceName). A
    // device removed meanwhile stays removed: the change is dropped as notFound. `change` may read
    // the registry, but not change it.
    UpdateResult update(std::string_view id, const std::function<void(PairedDevice&)>& change);
    // An idle time-out that is not positive means none.
    UpdateResult setDevicePolicy(std::string_view id, std::optional<std::chrono::seconds> idleTimeout,
                                 bool curtain);

    // How long away access lasts after a device was last at home: `awayAccessDays` days, at
    // least one; 0 days means always, with no end.
    static std::optional<std::chrono::seconds> awayLifetime(int awayAccessDays);
    // No lifetime: away access never ends. Shorter ones are raised to a day.
    void setAwayLifetime(std::optional<std::chrono::seconds> lifetime);
    // When the device's away access lapses: its last time at home (else its pairing) plus the
    // lifetime; nothing when access lasts always.
    std::optional<Date> awayExpiry(const PairedDevice& device) const;

    void setAllowsAwayWithoutDeviceKey(bool allows);
    bool allowsAwayWithoutDeviceKey() const;

private:
    DeviceRegistry(PairedDeviceStore store, std::string hostID, std::shared_ptr<Queue> queue,
                   Options options);

    // Runs with `lock` held.
    void openWindow(PairingWindow window, std::optional<std::chrono::seconds> duration, bool carriedOver);
    void forgetCarriedOverCode();
    // Reads a stored list that load could not read; false while it still cannot be. Runs with
    // `saveLock_` held.
    bool readStoredListIfUnread();
    void retryUnreadList(std::chrono::seconds after);
    // Saves the list and, once it is stored, puts it in memory; runs with `saveLock_` held.
    bool commit(std::vector<PairedDevice> devices);

    void settlePairingTry(std::uint64_t windowGeneration, TlsKeyLender::Outcome outcome);
    void expire(std::uint64_t generation);
    void publish();

    const PairedDeviceStore store_;
    const std::string hostID_;
    const std::shared_ptr<Queue> queue_;
    const Options options_;

    GuardedCallback<std::function<void()>> onChange_;
    GuardedCallback<std::function<void(int)>> onWrongCode_;

    // Held by each change of the list from its copy to its arrival in memory. Taken before `lock`,
    // never while holding it.
    std::mutex saveLock_;
    // A list is stored that could not be read, and its next read; under `saveLock_`.
    bool storedListUnread_ = false;
    WorkItem unreadListRetry_;
    mutable std::mutex lock;
    std::vector<PairedDevice> devices_;
    PairingWindowKeeper windowKeeper_;
    std::optional<std::chrono::seconds> awayLifetime_ = awayLifetime(defaultAwayAccessDays);
    bool allowsAwayWithoutDeviceKey_ = true;
};

} // namespace velm
