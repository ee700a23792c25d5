#include "protocol/ByeReason.h"

#include "protocol/ClientHello.h"

namespace velm {

ByeReason adapted(const ClientHello& hello, ByeReason reason) {
    if (reason != ByeReason::awayKeyRequired && reason != ByeReason::idleTimeout) {
        return reason;
    }
    return hello.understandsPolicy.value_or(false) ? reason : ByeReason::remoteAccessDisabled;
}

} // namespace velm
