#include "protocol/ClientHello.h"

#include <utility>

// Each parameter bears the name of the field it initialises, so every field reads as itself.
#pragma GCC diagnostic ignored "-Wshadow"

namespace velm {

ClientHello::ClientHello(std::string deviceID, std::string deviceName, std::int64_t screenPixelWidth,
                         std::int64_t screenPixelHeight, std::int64_t maxFPS, std::optional<Bytes> proof,
                         std::optional<DeviceModel> model, std::optional<Bytes> awayPublicKey,
                         std::optional<Bytes> awaySignature, std::optional<bool> understandsPolicy)
    : deviceID(std::move(deviceID)), deviceName(std::move(deviceName)), screenPixelWidth(screenPixelWidth),
      screenPixelHeight(screenPixelHeight), maxFPS(maxFPS), proof(std::move(proof)), model(std::move(model)),
      awayPublicKey(std::move(awayPublicKey)), awaySignature(std::move(awaySignature)),
      understandsPolicy(understandsPolicy) {}

} // namespace velm
