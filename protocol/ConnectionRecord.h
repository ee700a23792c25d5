#pragma once

#include "platform/core/Date.h"
#include "platform/core/Uuid.h"
#include "protocol/json/JsonRecord.h"
#include "protocol/json/RawEnum.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// One entry of the host's connection history: a stream session, a file connection or an
// attempt that was turned away. Facts only; how a record is shown is the viewer's business.
// A record is open while `ended` is absent.
struct ConnectionRecord {
    enum class Kind {
        session,
        file,    // a connection opened only to move a file
        refused, // an attempt the host turned away
    };

    enum class Route {
        home,      // the peer is on the host's local network
        door,      // admitted through the away door
        elsewhere, // neither: a VPN, a typed address, ...
    };

    enum class Ending {
        disconnected, // the client said goodbye, or a file connection finished its transfer
        endedHere,    // the host said goodbye
        idleTimeout,
        connectionLost, // dropped without a goodbye
        replaced,       // a newer session took its place
        hostQuit,       // the host quit or the computer powered off
        interrupted,    // still open when the host last stopped
    };

    enum class Refusal {
        keyDidNotMatch,        // the proof of the paired key did not match
        deviceBoundKeyMissing, // no valid signature with the device-bound key from away
    };

    Uuid id;
    Kind kind = Kind::session;
    std::string deviceID; // as the device's hello gives it
    std::string deviceName;
    Route route = Route::home;
    std::optional<std::string> from; // the peer's address as text, when known
    Date started;                    // for a refusal: when the attempt was turned away
    std::optional<Date> ended;
    std::optional<Ending> ending;   // absent while open and on refusals
    std::optional<Refusal> refusal; // only on records of kind refused
    bool forwardSecret = false;     // every connection of the record had forward secrecy

    bool isOpen() const { return !ended.has_value(); }

    static void fields(auto& visit, auto&... self) {
        visit("id", self.id...);
        visit("kind", self.kind...);
        visit("deviceID", self.deviceID...);
        visit("deviceName", self.deviceName...);
        visit("route", self.route...);
        visit("from", self.from...);
        visit("started", self.started...);
        visit("ended", self.ended...);
        visit("ending", self.ending...);
        visit("refusal", self.refusal...);
        visit("forwardSecret", self.forwardSecret...);
    }

    friend bool operator==(const ConnectionRecord& a, const ConnectionRecord& b) { return fieldsEqual(a, b); }
};

template <> struct RawValues<ConnectionRecord::Kind> {
    static constexpr std::string_view typeName = "ConnectionRecord.Kind";
    static constexpr std::array<std::string_view, 3> names{"session", "file", "refused"};
};

template <> struct RawValues<ConnectionRecord::Route> {
    static constexpr std::string_view typeName = "ConnectionRecord.Route";
    static constexpr std::array<std::string_view, 3> names{"home", "door", "elsewhere"};
};

template <> struct RawValues<ConnectionRecord::Ending> {
    static constexpr std::string_view typeName = "ConnectionRecord.Ending";
    static constexpr std::array<std::string_view, 7> names{
        "disconnected", "endedHere", "idleTimeout", "connectionLost", "replaced", "hostQuit", "interrupted",
    };
};

template <> struct RawValues<ConnectionRecord::Refusal> {
    static constexpr std::string_view typeName = "ConnectionRecord.Refusal";
    static constexpr std::array<std::string_view, 2> names{"keyDidNotMatch", "deviceBoundKeyMissing"};
};

} // namespace velm
