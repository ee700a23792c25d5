#include "Velm_Host/core/DeviceRegistry.h"

#include "Velm_Host/core/BoundedText.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "transport/channel/VelmService.h"
#include "transport/keys/HelloProof.h"
#include "transport/keys/Pairing.h"

#include <algorithm>
#include <utility>

namespace velm {
namespace {

const Log deviceRegistryLog("pairing");

constexpr std::size_t sessionBindingLength = 32;

Date later(Date date, std::chrono::seconds by) {
    return Date(date.secondsSinceReferenceDate() + static_cast<double>(by.count()));
}

auto findDevice(auto& devices, std::string_view id) {
    return std::find_if(devices.begin(), devices.end(),
                        [&](const PairedDevice& device) { return device.id == id; });
}

class PairingKeyLender final : public TlsKeyLender {
public:
    explicit PairingKeyLender(std::weak_ptr<DeviceRegistry> registry) : registry_(std::move(registry)) {}

    const std::string& identity() const override { return identity_; }

    std::optional<Loan> lend() override {
        const auto registry = registry_.lock();
        return registry ? registry->lendPairingKey() : std::nullopt;
    }

private:
    const std::string identity_{PreSharedKey::pairingIdentity};
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
      options_(std::move(options)) {}

DeviceRegistry::~DeviceRegistry() {
    expiry_.cancel();
}

void DeviceRegistry::setOnChange(std::function<void()> handler) {
    onChange_.set(std::move(handler));
}

void DeviceRegistry::setOnWrongCode(std::function<void(int triesLeft)> handler) {
    onWrongCode_.set(std::move(handler));
}

void DeviceRegistry::load() {
    {
        std::lock_guard guard(lock);
        devices_ = store_.load();
        if (devices_.empty()) {
            if (auto code = store_.carriedOverCode()) {
                deviceRegistryLog.info("pairing open for a code carried over from an earlier version");
                openWindow(PairingWindow{.code = std::move(*code),
                                         .expires = std::nullopt,
                                         .wrongTriesLeft = PairingWindow::carriedOverWrongTries,
                                         .reusable = false},
                           std::nullopt, /*carriedOver=*/true);
            }
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
    return window_;
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
    if (isWindowOpen(options_.now())) {
        keys.push_back(PreSharedKey::fromSecret(window_->code));
    }
    return keys;
}

std::shared_ptr<TlsKeyLender> DeviceRegistry::pairingKeyLender() {
    return std::make_shared<PairingKeyLender>(weak_from_this());
}

PairingWindow DeviceRegistry::openNewPairing(bool reusable) {
    return openPairing(VelmService::newCode(), PairingWindow::standardDuration,
                       PairingWindow::standardWrongTries, reusable);
}

PairingWindow DeviceRegistry::openPairing(std::string code, std::optional<std::chrono::seconds> duration,
                                          int wrongTries, bool reusable) {
    PairingWindow window;
    {
        std::lock_guard guard(lock);
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
    publish();
    return window;
}

void DeviceRegistry::closePairing() {
    {
        std::lock_guard guard(lock);
        if (!window_) {
            return;
        }
        closeWindow("pairing closed");
    }
    publish();
}

std::optional<TlsKeyLender::Loan> DeviceRegistry::lendPairingKey() {
    std::lock_guard guard(lock);
    if (!isWindowOpen(options_.now()) || triesLent_ >= window_->wrongTriesLeft) {
        return std::nullopt;
    }
    ++triesLent_;
    return TlsKeyLender::Loan(PreSharedKey::fromSecret(window_->code).key(),
                              [weak = weak_from_this(), generation = windowGeneration_](auto outcome) {
                                  if (const auto self = weak.lock()) {
                                      self->settlePairingTry(generation, outcome);
                                  }
                              });
}

void DeviceRegistry::settlePairingTry(std::uint64_t windowGeneration, TlsKeyLender::Outcome outcome) {
    int left = 0;
    {
        std::lock_guard guard(lock);
        if (windowGeneration != windowGeneration_ || !window_) {
            return;
        }
        --triesLent_;
        if (outcome != TlsKeyLender::Outcome::rejected) {
            return;
        }
        left = --window_->wrongTriesLeft;
        deviceRegistryLog.info("wrong pairing code, %d tries left", left);
        if (left <= 0) {
            // A carried-over code that has been guessed at this often is not offered again.
            if (windowCarriedOver_) {
                forgetCarriedOverCode();
            }
            closeWindow("pairing closed after too many wrong codes");
        }
    }
    queue_->post(whileAlive(shared_from_this(), [left](DeviceRegistry& self) { self.onWrongCode_(left); }));
    publish();
}

std::variant<PairResponse, DeviceRegistry::PairFailure>
DeviceRegistry::pair(const PairRequest& request, ByteView binding, std::string_view admittedBy) {
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

    PairResponse response;
    {
        std::lock_guard guard(lock);
        if (!isWindowOpen(options_.now())) {
            return refuse(PairFailure::noPairingWindow, "no pairing window is open");
        }
        const auto existing = findDevice(devices_, request.deviceID);
        if (existing == devices_.end() && devices_.size() >= PairedDeviceStore::maxDevices) {
            return refuse(PairFailure::tooManyDevices, "too many paired devices");
        }

        SecretBytes deviceKey = Pairing::newKey();
        auto sealed = Pairing::sealKey(deviceKey, request.publicKey, binding);
        if (const auto* failure = std::get_if<Pairing::Failure>(&sealed)) {
            return *failure == Pairing::Failure::malformedKey
                       ? refuse(PairFailure::malformedKey, "the device's public key is malformed")
                       : refuse(PairFailure::keyExchangeFailed, "the key exchange failed");
        }

        PairedDevice device{.id = request.deviceID,
                            .name = boundedText(request.deviceName, maxNameBytes),
                            .key = std::move(deviceKey),
                            .pairedAt = options_.now()};
        std::vector<PairedDevice> next = devices_;
        const bool pairedBefore = existing != devices_.end();
        if (pairedBefore) {
            next[static_cast<std::size_t>(existing - devices_.begin())] = std::move(device);
        } else {
            next.push_back(std::move(device));
        }
        if (!commit(std::move(next))) {
            return refuse(PairFailure::notSaved, "the paired devices could not be saved");
        }
        deviceRegistryLog.info("%s", pairedBefore ? "device paired again; its old key no longer admits it"
                                                  : "device paired");

        auto& [publicKey, sealedKey] = std::get<Pairing::SealedKey>(sealed);
        response = PairResponse{
            .hostID = hostID_, .publicKey = std::move(publicKey), .sealedKey = std::move(sealedKey)};
        if (windowCarriedOver_) {
            forgetCarriedOverCode();
        }
        if (!window_->reusable) {
            closeWindow("pairing closed");
        }
    }
    publish();
    return response;
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
        std::lock_guard guard(lock);
        std::vector<PairedDevice> next;
        if (id) {
            next = devices_;
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

DeviceRegistry::UpdateResult DeviceRegistry::update(std::string_view id,
                                                    const std::function<void(PairedDevice&)>& change) {
    {
        std::lock_guard guard(lock);
        const auto found = findDevice(devices_, id);
        if (found == devices_.end()) {
            return UpdateResult::notFound;
        }
        std::vector<PairedDevice> next = devices_;
        PairedDevice& device = next[static_cast<std::size_t>(found - devices_.begin())];
        change(device);
        device.id = found->id;
        device.key = found->key;
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

bool DeviceRegistry::isWindowOpen(Date now) const {
    return window_ && (!window_->expires || now < *window_->expires);
}

void DeviceRegistry::openWindow(PairingWindow window, std::optional<std::chrono::seconds> duration,
                                bool carriedOver) {
    expiry_.cancel();
    window_ = std::move(window);
    windowCarriedOver_ = carriedOver;
    triesLent_ = 0;
    const std::uint64_t generation = ++windowGeneration_;
    if (duration) {
        expiry_ = queue_->postAfter(
            *duration,
            whileAlive(shared_from_this(), [generation](DeviceRegistry& self) { self.expire(generation); }));
    }
}

void DeviceRegistry::closeWindow(const char* why) {
    expiry_.cancel();
    window_.reset();
    windowCarriedOver_ = false;
    triesLent_ = 0;
    ++windowGeneration_;
    deviceRegistryLog.info("%s", why);
}

void DeviceRegistry::forgetCarriedOverCode() {
    if (!store_.forgetCarriedOverCode()) {
        deviceRegistryLog.error("the carried-over pairing code could not be deleted");
    }
}

bool DeviceRegistry::commit(std::vector<PairedDevice> devices) {
    if (!store_.save(devices)) {
        return false;
    }
    devices_ = std::move(devices);
    return true;
}

void DeviceRegistry::expire(std::uint64_t generation) {
    {
        std::lock_guard guard(lock);
        if (generation != windowGeneration_ || !window_) {
            return;
        }
        closeWindow("pairing expired");
    }
    publish();
}

void DeviceRegistry::publish() {
    queue_->post(whileAlive(shared_from_this(), [](DeviceRegistry& self) { self.onChange_(); }));
}

} // namespace velm
