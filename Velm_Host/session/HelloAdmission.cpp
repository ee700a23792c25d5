#include "Velm_Host/session/HelloAdmission.h"

#include "Velm_Host/core/DeviceRegistry.h"
#include "platform/log/Log.h"
#include "protocol/VelmProtocolVersion.h"
#include "transport/keys/AwaySignature.h"
#include "transport/keys/PreSharedKey.h"

#include <utility>

namespace velm {

namespace {

const Log helloAdmissionLog("session");

using Outcome = HelloCheck::Outcome;
using Refusal = ConnectionRecord::Refusal;

// A connection admitted by a device's own key speaks for that device alone.
bool speaksForAnotherDevice(const std::optional<std::string>& pskIdentity, const std::string& deviceID) {
    if (!pskIdentity || *pskIdentity == PreSharedKey::pairingIdentity ||
        *pskIdentity == PreSharedKey::awayIdentity) {
        return false;
    }
    return *pskIdentity != deviceID;
}

} // namespace

std::variant<HelloAdmission::Admitted, HelloAdmission::Refused>
HelloAdmission::check(const ClientHello& hello, const Connection& connection,
                      const DeviceRegistry& registry) {
    const auto refuse = [&](ByeReason reason, std::optional<Refusal> refusal, const char* why) {
        helloAdmissionLog.info("hello refused: %s", why);
        return Refused{.reason = adapted(hello, reason), .refusal = refusal, .why = why};
    };
    if (hello.protocolVersion != VelmProtocolVersion::current) {
        return refuse(ByeReason::protocolMismatch, std::nullopt, "another protocol version");
    }
    auto check = registry.checkHello(hello.deviceID, hello.proof, connection.binding);
    if (check.outcome == Outcome::notPaired) {
        return refuse(ByeReason::notPaired, std::nullopt, "device not paired");
    }
    // Whoever holds another device's key cannot show anything of this one's: what the proof says is not
    // held against this device.
    if (speaksForAnotherDevice(connection.pskIdentity, hello.deviceID)) {
        return refuse(ByeReason::notPaired, std::nullopt, "another device's key");
    }
    switch (check.outcome) {
    case Outcome::noProof:
        return refuse(ByeReason::notPaired, std::nullopt, "no proof");
    case Outcome::keyDidNotMatch:
        return refuse(ByeReason::notPaired, Refusal::keyDidNotMatch, "proof did not match");
    case Outcome::notPaired:
    case Outcome::admitted:
        break;
    }
    if (connection.isAway() && !awaySignatureHolds(hello, *check.device, connection, registry)) {
        return refuse(ByeReason::awayKeyRequired, Refusal::deviceBoundKeyMissing, "no device-bound key");
    }
    return admitted(hello, std::move(*check.device), connection.route);
}

bool HelloAdmission::awaySignatureHolds(const ClientHello& hello, const PairedDevice& device,
                                        const Connection& connection, const DeviceRegistry& registry) {
    if (!device.awayPublicKey) {
        return registry.allowsAwayWithoutDeviceKey();
    }
    return hello.awaySignature && connection.binding &&
           isValidAwaySignature(*hello.awaySignature, *device.awayPublicKey, *connection.binding);
}

HelloAdmission::Admitted HelloAdmission::admitted(const ClientHello& hello, PairedDevice device,
                                                  ConnectionRecord::Route route) {
    Admitted admission{
        .device = std::move(device), .awayKeyToEnrol = std::nullopt, .holdsAnotherAwayKey = false};
    // Only a device at home may offer its device-bound key: from anywhere else, whoever took the
    // device key could plant one of their own.
    if (route != ConnectionRecord::Route::home || !hello.awayPublicKey) {
        return admission;
    }
    if (!admission.device.awayPublicKey) {
        if (isValidAwayPublicKey(*hello.awayPublicKey)) {
            admission.awayKeyToEnrol = hello.awayPublicKey;
        }
    } else if (*admission.device.awayPublicKey != *hello.awayPublicKey) {
        admission.holdsAnotherAwayKey = true;
    }
    return admission;
}

} // namespace velm
