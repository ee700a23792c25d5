#pragma once

#include "platform/core/Bytes.h"
#include "platform/dispatch/Queue.h"
#include "protocol/ClientHello.h"

#include <functional>
#include <memory>
#include <optional>

namespace velm {

// Signs a session binding with the device-bound key; may block and may be called
// from any thread. Returns the raw r || s signature, or nothing.
using AwaySigner = std::function<std::optional<Bytes>(ByteView binding)>;

// Puts the away signature of `binding` into the hello. The signer runs on the global
// queue, never on the caller's queue, because it may wait for the user or secure
// hardware. Without a signer or a binding the completion runs at once, on the calling
// thread, with the hello unchanged; otherwise it runs on `queue` with the signature
// (or none, when the signer gave nothing) in place of any earlier one.
void signAwayInBackground(ClientHello hello, std::optional<Bytes> binding, AwaySigner signer,
                          std::shared_ptr<Queue> queue, std::function<void(ClientHello)> completion);

} // namespace velm
