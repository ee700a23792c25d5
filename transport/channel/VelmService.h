#pragma once

#include "platform/core/Bytes.h"
#include "platform/net/TlsParameters.h"
#include "platform/net/UdpSocket.h"
#include "transport/keys/PreSharedKey.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// What host and client agree on before the protocol starts: the advertised service,
// the parameters of the control connection and of the video path, the pairing code and
// its display form, and random bytes. Holds no state; safe from any thread.
namespace VelmService {

inline constexpr std::string_view serviceType = "_velm._tcp";
inline constexpr std::string_view modelKey = "model";
inline constexpr std::string_view modelNameKey = "modelname";

// The control connection's TLS and TCP parameters with these keys, in list order:
// an outgoing connection presents the first, a listener admits them all. An empty
// list admits nobody.
TlsParameters tlsParameters(const std::vector<PreSharedKey>& keys);
// The same for the one key derived from a pairing code.
TlsParameters tlsParameters(std::string_view secret);

// The video path's UDP socket: any free port on IPv4 and IPv6 (the device sends to the address it
// reached the host at), what it sends marked as interactive video, and the port open to sharing
// with another socket that allows it too.
UdpSocket::Binding udpParameters();

// A new six-digit pairing code, leading zeros kept ("000042").
std::string newCode();
// The same from a given source of 64-bit draws, so the drawing can be checked.
std::string newCode(const std::function<std::uint64_t()>& draw);

// Six characters are shown as two groups of three ("123 456"); any other text
// is returned unchanged.
std::string displayCode(std::string_view code);

// `count` bytes from the system's secure random source.
Bytes randomBytes(std::size_t count);

} // namespace VelmService

} // namespace velm
