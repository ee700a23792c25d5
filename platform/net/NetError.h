#pragma once

#include <string>
#include <system_error>

namespace velm {

// Why a connection or a listener failed. Owners mostly need to tell a TLS failure
// (a wrong key, an unknown identity, a refused suite or version) from any other.
struct NetError {
    enum class Kind {
        tls,          // the TLS handshake or a record failed
        refused,      // nothing listens at the remote port
        unreachable,  // no route, or the name does not resolve
        timedOut,     // connect, handshake or TCP user time-out
        closed,       // the peer closed or reset the connection
        backlogFull,  // the peer stopped reading and the write backlog overflowed
        addressInUse, // a listener's port is taken
        cancelled,    // the owner cancelled the connection
        other,
    };

    Kind kind = Kind::other;
    std::string description;

    bool isTls() const { return kind == Kind::tls; }

    // Classifies an error reported by the socket layer.
    static NetError fromSystem(const std::error_code& error);
};

} // namespace velm
