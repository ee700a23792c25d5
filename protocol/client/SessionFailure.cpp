#include "protocol/client/SessionFailure.h"

namespace velm {

std::string_view message(SessionFailure failure) {
    switch (failure) {
    case SessionFailure::authenticationFailed:
        return "Pairing code rejected";
    case SessionFailure::hostUnreachable:
        return "Couldn't reach this Mac";
    case SessionFailure::protocolMismatch:
        return "Update Velm on both devices";
    case SessionFailure::remoteAccessDisabled:
        return "Remote access is turned off on this Mac";
    case SessionFailure::replacedByNewSession:
        return "Another device took over the session";
    case SessionFailure::connectionLost:
        return "Connection lost";
    case SessionFailure::awayRefused:
        return "This Mac's router wouldn't let the connection in";
    case SessionFailure::awayNotConfirmed:
        return "Confirm it's you to connect from away";
    case SessionFailure::awayNeedsPasscode:
        return "Set a passcode on this device to connect from away";
    case SessionFailure::awayExpired:
        return "Away access has lapsed. Connect once at home to renew it";
    case SessionFailure::awayKeyRequired:
        return "Connect once at home to set up away access on this device";
    case SessionFailure::awaySigningFailed:
        return "This device couldn't confirm with its away key";
    case SessionFailure::awayKeyReplaced:
        return "This Mac holds an older away key for this device. At home, remove the device in Velm Host "
               "and "
               "pair it again";
    case SessionFailure::idleTimeout:
        return "Disconnected after being idle";
    case SessionFailure::notConfirmed:
        return "Confirm it's you to connect";
    }
    // Only a value cast from outside the cases gets here.
    return "Connection lost";
}

} // namespace velm
