#include "Velm_Host/core/DeviceRegistry.h"

#include "Velm_Host/core/BoundedText.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "protocol/UnicodeText.h"
#include "transport/channel/VelmService.h"
#include "transport/keys/HelloProof.h"
#include "transport/keys/Pairing.h"

#include <algorithm>
#include <utility>

namespace velm {
namespace {

const Log deviceRegistryLog("pairing");

using Loaded = PairedDeviceStore::Loaded;

constexpr std::size_t sessionBindingLength = 32;
// Reads of the stored list at start before it counts as unreadable for now.
constexpr int loadAttempts = 3;

Date later(Date date, std::chrono::seconds by) {
    return Date(date.secondsSinceReferenceDate() + static_cast<double>(by.count()));
}

auto findDevice(auto& devices, std::string_view id) {
    return std::find_if(devices.begin(), devices.end(),
                        [&](const PairedDevice& device) { return device.id == id; });
}

// Decides the code's identity and every identity a device could have, paired or not: a key the
// listener held itself for one of them could be that of a device forgotten since.
class ListenerKeyLender final : public TlsKeyLender {
public:
    explicit ListenerKeyLender(std::weak_ptr<DeviceRegistry> registry) : registry_(std::move(registry)) {}

    bool decides(std::string_view identity) const override {
        return identity == PreSharedKey::pairingIdentity || !PreSharedKey::identityError(identity);
    }

    std::optional<Loan> lend(std::string_view identity) override {
        const auto registry = registry_.lock();
        if (!registry) {
            return std::nullopt;
        }
        return identity == PreSharedKey::pairingIdentity ? registry->lendPairingKey()
                                                         : registry->lendDeviceKey(identity);
    }

private:
    std::weak_ptr<DeviceRegistry> registry_;
};

} // namespace

std::shared_ptr<DeviceRegistry> DeviceRegistry::make(PairedDeviceStore store, std::string hostID,
                                                     std::shared_ptr<Queue> queue, Options options) {
    return std::shared_ptr<DeviceRegistry>(
        new DeviceRegistry(std::move(store), std::move(hostID), std::move(queue), std::move(options)));
}

DeviceRegistry::DeviceRegistry(PairedDeviceStore store, std::string hostID, std::shared_ptr<Queue> queue,
                               Options options)
    : store_(std::move(store)), hostID_(std::move(hostID)), queue_(std::move(queue)),
      options_(std::move(options)), windowKeeper_(queue_) {}

DeviceRegistry::~DeviceRegistry() {
    unreadListRetry_.cancel();
}

void DeviceRegistry::setOnChange(std::function<void()> handler) {
    onChange_.set(std::move(handler));
}

void DeviceRegistry::setOnWrongCode(std::function<void(int triesLeft)> handler) {
    onWrongCode_.set(std::move(handler));
}

void DeviceRegistry::load() {
    {
        std::lock_guard saving(saveLock_);
        auto stored = store_.load();
        // A read that failed for a passing reason (no descriptors left, an I/O error) may work at once.
        for (int attempt = 1; attempt < loadAttempts && stored.status == Loaded::Status::unavailable;
             ++attempt) {
            stored = store_.load();
        }
        storedListUnread_ = !stored.allowsSaving();
        // Nothing else reads it again before the list is changed: its devices would stay out till then.
        if (storedListUnread_) {
            retryUnreadList(unreadListFirstRetry);
        }
        // A list that could not be read may hold devices: only one known to be empty lets the code in.
        // One that holds devices makes the code useless for good; kept, it would come back with fresh
        // tries once they are all removed.
        auto code = stored.status == Loaded::Status::read ? store_.carriedOverCode() : std::nullopt;
        if (code && !stored.devices.empty()) {
            code.reset();
            forgetCarriedOverCode();
        }
        std::lock_guard guard(lock);
        devices_ = std::move(stored.devices);
        if (code) {
            deviceRegistryLog.info("pairing open for a code carried over from an earlier version");
            openWindow(PairingWindow{.code = std::move(*code),
                                     .expires = std::nullopt,
                                     .wrongTriesLeft = PairingWindow::carriedOverWrongTries,
                                     .reusable = false},
                       std::nullopt, /*carriedOver=*/true);
        }
    }
    publish();
}

std::vector<PairedDevice> DeviceRegistry::devices() const {
    std::lock_guard guard(lock);
    return devices_;
}

std::optional<PairedDevice> DeviceRegistry::device(std::string_view id) const {
    std::lock_guard guard(lock);
    const auto found = findDevice(devices_, id);
    if (found == devices_.end()) {
        return std::nullopt;
    }
    return *found;
}

std::optional<PairingWindow> DeviceRegistry::pairingWindow() const {
    std::lock_guard guard(lock);
    return windowKeeper_.window();
}

std::vector<PreSharedKey> DeviceRegistry::listenerKeys() const {
    std::lock_guard guard(lock);
    std::vector<PreSharedKey> keys;
    keys.reserve(devices_.size() + 1);
    for (const PairedDevice& device : devices_) {
        if (auto key = PreSharedKey::forDevice(device.id, device.key)) {
            keys.push_back(std::move(*key));
        }
    }
    if (windowKeeper_.isOpen(options_.now())) {
        keys.push_back(PreSharedKey::fromSecret(windowKeeper_.window()->code));
    }
    return keys;
}

std::shared_ptr<TlsKeyLender> DeviceRegistry::listenerKeyLender() {
    return std::make_shared<ListenerKeyLender>(weak_from_this());
}

PairingWindow DeviceRegistry::openNewPairing(bool reusable) {
    return openPairing(VelmService::newCode(), PairingWindow::standardDuration,
                       PairingWindow::standardWrongTries, reusable);
}

PairingWindow DeviceRegistry::openPairing(std::string code, std::optional<std::chrono::seconds> duration,
                                          int wrongTries, bool reusable) {
    PairingWindow window;
    bool replacesCarriedOver = false;
    {
        std::lock_guard guard(lock);
        replacesCarriedOver = windowKeeper_.isCarriedOver();
        if (duration) {
            duration = std::max(*duration, std::chrono::seconds::zero());
        }
        const auto expires = duration ? std::optional(later(options_.now(), *duration)) : std::nullopt;
        window = PairingWindow{.code = std::move(code),
                               .expires = expires,
                               .wrongTriesLeft = std::max(wrongTries, 1),
                               .reusable = reusable};
        openWindow(window, duration, /*carriedOver=*/false);
        deviceRegistryLog.info("pairing open");
    }
    // A carried-over code has no end of its own: put away, it would come back at the next start with
    // its tries renewed.
    if (replacesCarriedOver) {
        forgetCarriedOverCode();
    }
    publish();
    return window;
}

void DeviceRegistry::closePairing() {
    bool closesCarriedOver = false;
    {
        std::lock_guard guard(lock);
        if (!windowKeeper_.window()) {
            return;
        }
        closesCarriedOver = windowKeeper_.isCarriedOver();
        windowKeeper_.close("pairing closed");
    }
    if (closesCarriedOver) {
        forgetCarriedOverCode();
    }
    publish();
}

std::optional<TlsKeyLender::Loan> DeviceRegistry::lendPairingKey() {
    std::optional<PairingWindowKeeper::Loan> loan;
    {
        std::lock_guard guard(lock);
        loan = windowKeeper_.lend(options_.now());
    }
    if (!loan) {
        return std::nullopt;
    }
    auto settle =
        whileAlive(weak_from_this(),
                   [generation = loan->generation](DeviceRegistry& self, TlsKeyLender::Outcome outcome) {
                       self.settlePairingTry(generation, outcome);
                   });
    return TlsKeyLender::Loan(PreSharedKey::fromSecret(loan->code).key(), std::move(settle),
                              loan->generation);
}

std::optional<TlsKeyLender::Loan> DeviceRegistry::lendDeviceKey(std::string_view id) const {
    if (PreSharedKey::identityError(id)) {
        return std::nullopt;
    }
    std::lock_guard guard(lock);
    const auto found = findDevice(devices_, id);
    if (found == devices_.end()) {
        return std::nullopt;
    }
    return TlsKeyLender::Loan(found->key, nullptr);
}

void DeviceRegistry::settlePairingTry(std::uint64_t windowGeneration, TlsKeyLender::Outcome outcome) {
    std::optional<PairingWindowKeeper::WrongTry> wrong;
    {
        std::lock_guard guard(lock);
        wrong = windowKeeper_.settle(windowGeneration, outcome);
    }
    if (!wrong) {
        return;
    }
    // A carried-over code that has been guessed at this often is not offered again.
    if (wrong->usedUpCarriedOverCode) {
        forgetCarriedOverCode();
    }
    queue_->post(whileAlive(shared_from_this(),
                            [left = wrong->triesLeft](DeviceRegistry& self) { self.onWrongCode_(left); }));
    publish();
}

std::variant<PairResponse, DeviceRegistry::PairFailure>
DeviceRegistry::pair(const PairRequest& request, ByteView binding, std::string_view admittedBy,
                     std::optional<std::uint64_t> admittedUnder) {
    const auto refuse = [&](PairFailure failure, const char* why) {
        deviceRegistryLog.error("pairing refused: %s", why);
        return failure;
    };
    if (admittedBy != PreSharedKey::pairingIdentity) {
        return refuse(PairFailure::notPairingConnection, "the connection was not admitted by the code");
    }
    if (binding.size() != sessionBindingLength) {
        return refuse(PairFailure::noSessionBinding, "the connection offers no session binding");
    }
    if (const auto error = PreSharedKey::identityError(request.deviceID)) {
        return refuse(PairFailure::invalidDeviceID, std::string(PreSharedKey::describe(*error)).c_str());
    }

    std::lock_guard saving(saveLock_);
    if (!readStoredListIfUnread()) {
        return refuse(PairFailure::notSaved,
                      "the stored paired devices cannot be read; they are kept as they are");
    }
    std::vector<PairedDevice> next;
    std::uint64_t windowGeneration = 0;
    bool carriedOver = false;
    {
        std::lock_guard guard(lock);
        if (!windowKeeper_.isOpen(options_.now())) {
            return refuse(PairFailure::noPairingWindow, "no pairing window is open");
        }
        // The code that let the connection in may have been closed, and another opened, while it
        // waited: only the window whose key admitted it may pair on it.
        if (admittedUnder != windowKeeper_.generation()) {
            return refuse(PairFailure::noPairingWindow, "the code that admitted the connection was closed");
        }
        if (findDevice(devices_, request.deviceID) == devices_.end() &&
            devices_.size() >= PairedDeviceStore::maxDevices) {
            return refuse(PairFailure::tooManyDevices, "too many paired devices");
        }
        next = devices_;
        windowGeneration = windowKeeper_.generation();
        carriedOver = windowKeeper_.isCarriedOver();
    }

    SecretBytes deviceKey = Pairing::newKey();
    auto sealed = Pairing::sealKey(deviceKey, request.publicKey, binding);
    if (const auto* failure = std::get_if<Pairing::Failure>(&sealed)) {
        return *failure == Pairing::Failure::malformedKey
                   ? refuse(PairFailure::malformedKey, "the device's public key is malformed")
                   : refuse(PairFailure::keyExchangeFailed, "the key exchange failed");
    }
    PairedDevice device{.id = request.deviceID,
                        .name = keptName(request.deviceName),
                        .key = std::move(deviceKey),
                        .pairedAt = options_.now()};
    const auto existing = findDevice(next, request.deviceID);
    const bool pairedBefore = existing != next.end();
    if (pairedBefore) {
        *existing = std::move(device);
    } else {
        next.push_back(std::move(device));
    }
    if (!commit(std::move(next))) {
        return refuse(PairFailure::notSaved, "the paired devices could not be saved");
    }
    deviceRegistryLog.info("%s", pairedBefore ? "device paired again; its old key no longer admits it"
                                              : "device paired");
    if (carriedOver) {
        forgetCarriedOverCode();
    }
    {
        std::lock_guard guard(lock);
        // Only the window the device paired in closes: one opened while it was saved stays.
        const auto& window = windowKeeper_.window();
        if (windowKeeper_.generation() == windowGeneration && window && !window->reusable) {
            windowKeeper_.close("pairing closed");
        }
    }
    publish();

    auto& [publicKey, sealedKey] = std::get<Pairing::SealedKey>(sealed);
    return PairResponse{
        .hostID = hostID_, .publicKey = std::move(publicKey), .sealedKey = std::move(sealedKey)};
}

HelloCheck DeviceRegistry::checkHello(std::string_view deviceID, const std::optional<Bytes>& proof,
                                      const std::optional<Bytes>& binding) const {
    HelloCheck check{.outcome = HelloCheck::Outcome::notPaired, .device = device(deviceID)};
    if (!check.device) {
        return check;
    }
    if (!proof || !binding) {
        check.outcome = HelloCheck::Outcome::noProof;
    } else if (!isValidHelloProof(*proof, check.device->key, *binding)) {
        check.outcome = HelloCheck::Outcome::keyDidNotMatch;
    } else {
        check.outcome = HelloCheck::Outcome::admitted;
    }
    return check;
}

bool DeviceRegistry::remove(std::optional<std::string_view> id) {
    {
        std::lock_guard saving(saveLock_);
        if (!readStoredListIfUnread()) {
            return false;
        }
        std::vector<PairedDevice> next;
        if (id) {
            next = devices();
            if (std::erase_if(next, [&](const PairedDevice& device) { return device.id == *id; }) == 0) {
                return true;
            }
        }
        if (!commit(std::move(next))) {
            return false;
        }
        deviceRegistryLog.info(id ? "device removed" : "every device removed");
    }
    publish();
    return true;
}

// A blank name would leave a blank line wherever the device is named: on its card, in the menu and
// in notices.
std::string DeviceRegistry::keptName(std::string_view given) {
    std::string name = boundedText(given, maxNameBytes);
    return UnicodeText::isBlank(name) ? std::string(unnamedDeviceName) : name;
}

DeviceRegistry::UpdateResult DeviceRegistry::update(std::string_view id,
                                                    const std::function<void(PairedDevice&)>& change) {
    {
        std::lock_guard saving(saveLock_);
        if (!readStoredListIfUnread()) {
            return UpdateResult::notSaved;
        }
        std::vector<PairedDevice> next = devices();
        const auto found = findDevice(next, id);
        if (found == next.end()) {
            return UpdateResult::notFound;
        }
        PairedDevice changed = *found;
        change(changed);
        if (UnicodeText::isBlank(changed.name)) {
            changed.name =
                UnicodeText::isBlank(found->name) ? std::string(unnamedDeviceName) : std::move(found->name);
        }
        changed.id = std::move(found->id);
        changed.key = std::move(found->key);
        *found = std::move(changed);
        if (!commit(std::move(next))) {
            return UpdateResult::notSaved;
        }
    }
    publish();
    return UpdateResult::updated;
}

DeviceRegistry::UpdateResult DeviceRegistry::setDevicePolicy(std::string_view id,
                                                             std::optional<std::chrono::seconds> idleTimeout,
                                                             bool curtain) {
    return update(id, [&](PairedDevice& device) {
        device.idleTimeout = idleTimeout && idleTimeout->count() > 0
                                 ? std::optional(static_cast<double>(idleTimeout->count()))
                                 : std::nullopt;
        device.curtain = curtain;
    });
}

std::optional<std::chrono::seconds> DeviceRegistry::awayLifetime(int awayAccessDays) {
    if (awayAccessDays == 0) {
        return std::nullopt;
    }
    return oneDay * std::max(awayAccessDays, 1);
}

void DeviceRegistry::setAwayLifetime(std::optional<std::chrono::seconds> lifetime) {
    std::lock_guard guard(lock);
    awayLifetime_ = lifetime ? std::optional(std::max(*lifetime, oneDay)) : std::nullopt;
}

std::optional<Date> DeviceRegistry::awayExpiry(const PairedDevice& device) const {
    std::optional<std::chrono::seconds> lifetime;
    {
        std::lock_guard guard(lock);
        lifetime = awayLifetime_;
    }
    if (!lifetime) {
        return std::nullopt;
    }
    return later(device.lastAtHome.value_or(device.pairedAt), *lifetime);
}

void DeviceRegistry::setAllowsAwayWithoutDeviceKey(bool allows) {
    std::lock_guard guard(lock);
    allowsAwayWithoutDeviceKey_ = allows;
}

bool DeviceRegistry::allowsAwayWithoutDeviceKey() const {
    std::lock_guard guard(lock);
    return allowsAwayWithoutDeviceKey_;
}

void DeviceRegistry::openWindow(PairingWindow window, std::optional<std::chrono::seconds> duration,
                                bool carriedOver) {
    windowKeeper_.open(std::move(window), duration, carriedOver,
                       whileAlive(weak_from_this(), [](DeviceRegistry& self, std::uint64_t generation) {
                           self.expire(generation);
                       }));
}

// Only ever a removal, which any number of callers may make in any order: it needs no place in
// the order of the list's saves.
void DeviceRegistry::forgetCarriedOverCode() {
    if (!store_.forgetCarriedOverCode()) {
        deviceRegistryLog.error("the carried-over pairing code could not be deleted");
    }
}

// Until the stored list has been read, saving any list would replace the devices in it for good.
bool DeviceRegistry::readStoredListIfUnread() {
    if (!storedListUnread_) {
        return true;
    }
    auto stored = store_.load();
    if (!stored.allowsSaving()) {
        deviceRegistryLog.error("paired devices not changed: the stored list still cannot be read");
        return false;
    }
    storedListUnread_ = false;
    {
        std::lock_guard guard(lock);
        devices_ = std::move(stored.devices);
    }
    deviceRegistryLog.info("stored paired devices read after all");
    publish();
    return true;
}

// Runs with `saveLock_` held.
void DeviceRegistry::retryUnreadList(std::chrono::seconds after) {
    unreadListRetry_ =
        queue_->postAfter(after, whileAlive(weak_from_this(), [after](DeviceRegistry& self) {
                              std::lock_guard saving(self.saveLock_);
                              if (!self.readStoredListIfUnread()) {
                                  self.retryUnreadList(std::min(after * 2, unreadListLongestRetry));
                              }
                          }));
}

bool DeviceRegistry::commit(std::vector<PairedDevice> devices) {
    if (!store_.save(devices)) {
        return false;
    }
    std::lock_guard guard(lock);
    devices_ = std::move(devices);
    return true;
}

void DeviceRegistry::expire(std::uint64_t generation) {
    {
        std::lock_guard guard(lock);
        if (!windowKeeper_.expire(generation)) {
            return;
        }
    }
    publish();
}

void DeviceRegistry::publish() {
    queue_->post(whileAlive(shared_from_this(), [](DeviceRegistry& self) { self.onChange_(); }));
}

} // namespace velm
