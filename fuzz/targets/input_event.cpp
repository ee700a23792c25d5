// Binary input events: whatever decodes must encode to bytes that decode to the same bytes again.
#include "fuzz/Target.h"
#include "protocol/InputEvent.h"
#include "protocol/WireError.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    return {InputEvent::pointerMove(0.25f, 0.75f).encoded(),
            InputEvent::pointerDown(PointerButton::left()).encoded(),
            InputEvent::scroll(-3.5f, 12.0f).encoded(),
            InputEvent::keyDown(0x04).encoded(),
            InputEvent::modifierUp(Modifier::shift).encoded(),
            InputEvent::textInput("h\u00E9llo \U0001F44D").encoded(),
            InputEvent::tap(PointerButton::right(), 0.5f).encoded()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    try {
        const Bytes once = InputEvent::decoding(ByteView(data, size)).encoded();
        if (InputEvent::decoding(once).encoded() != once) {
            std::abort();
        }
    } catch (const WireError&) {
    }
}

} // namespace velm::fuzz
