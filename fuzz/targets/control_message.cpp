// Control messages as JSON, every record with them: whatever decodes encodes, to text that decodes
// and encodes to the same text again.
#include "fuzz/Target.h"
#include "protocol/ControlMessage.h"

#include <algorithm>
#include <cstdlib>

namespace velm::fuzz {
namespace {

ClientHello sampleHello() {
    ClientHello hello;
    hello.deviceID = "0B4A3C1E-5D6F-4E70-8192-A3B4C5D6E7F8";
    hello.deviceName = "iPad \u00E9";
    hello.screenPixelWidth = 2732;
    hello.screenPixelHeight = 2048;
    hello.maxFPS = 120;
    hello.proof = Bytes(32, 7);
    hello.understandsPolicy = true;
    return hello;
}

ConnectionRecord sampleRecord() {
    return {.id = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
            .kind = ConnectionRecord::Kind::session,
            .deviceID = "d",
            .deviceName = "n",
            .route = ConnectionRecord::Route::door,
            .from = "203.0.113.7",
            .started = Date(788918400.5),
            .ended = Date(788918460),
            .ending = ConnectionRecord::Ending::idleTimeout,
            .refusal = std::nullopt,
            .forwardSecret = true};
}

} // namespace

std::vector<Bytes> seeds() {
    std::vector<Bytes> all;
    for (const ControlMessage& message :
         {ControlMessage::hello(sampleHello()), ControlMessage::ping(7, 123456789),
          ControlMessage::pong(7, 123456789, 987654321), ControlMessage::pointerPosition(0.5, 0.25),
          ControlMessage::textInputFocus(true), ControlMessage::listApps(),
          ControlMessage::appModeEnded("closed"), ControlMessage::idleWarning(30),
          ControlMessage::stillHere(), ControlMessage::curtain({true, false}),
          ControlMessage::history({sampleRecord()}),
          ControlMessage::filesAvailable({{3, "report.pdf", 1024}}),
          ControlMessage::glimpse(Bytes{0xFF, 0xD8, 0xFF}), ControlMessage::bye(ByeReason::idleTimeout),
          ControlMessage::requestHistory(sampleHello())}) {
        all.push_back(*message.jsonEncoded());
    }
    return all;
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const auto message = ControlMessage::fromJson(ByteView(data, size));
    if (!message) {
        return;
    }
    if (std::find(data, data + size, std::uint8_t{0}) != data + size) {
        std::abort(); // JSON has no raw NUL; a reader that stops there has read something else
    }
    const auto once = message->jsonEncoded();
    if (!once) {
        std::abort(); // what was read must be writable
    }
    const auto again = ControlMessage::fromJson(*once);
    if (!again || again->jsonEncoded() != once) {
        std::abort();
    }
}

} // namespace velm::fuzz
