#pragma once

#include "Velm_Host/core/PairedDevice.h"
#include "platform/core/Bytes.h"
#include "protocol/ByeReason.h"
#include "protocol/ClientHello.h"
#include "protocol/ConnectionRecord.h"

#include <optional>
#include <string>
#include <variant>

namespace velm {

class DeviceRegistry;

// Whether a client's hello admits it on this connection: the protocol version, the device's proof bound
// to this TLS session, the device key that admitted the connection, and for a device from away its
// signature with the device-bound key. Reads the registry and changes nothing.
class HelloAdmission {
public:
    HelloAdmission() = delete;

    // What the connection itself says about the client.
    struct Connection {
        std::optional<Bytes> binding;
        // The identity of the pre-shared key that admitted the connection.
        std::optional<std::string> pskIdentity;
        ConnectionRecord::Route route = ConnectionRecord::Route::elsewhere;

        bool isAway() const { return route == ConnectionRecord::Route::door; }
    };

    struct Admitted {
        PairedDevice device;
        // At home: the hello offers a device-bound key the host should keep (none is stored yet).
        std::optional<Bytes> awayKeyToEnrol;
        // At home: the host keeps a different device-bound key than the one offered.
        bool holdsAnotherAwayKey = false;
    };

    struct Refused {
        // Already adapted to what the client understands.
        ByeReason reason;
        // What the history keeps of the attempt, if anything.
        std::optional<ConnectionRecord::Refusal> refusal;
        // Why, as a person running the host is told ("device not paired").
        std::string why;
    };

    static std::variant<Admitted, Refused> check(const ClientHello& hello, const Connection& connection,
                                                 const DeviceRegistry& registry);

private:
    static bool awaySignatureHolds(const ClientHello& hello, const PairedDevice& device,
                                   const Connection& connection, const DeviceRegistry& registry);
    static Admitted admitted(const ClientHello& hello, PairedDevice device, ConnectionRecord::Route route);
};

} // namespace velm
