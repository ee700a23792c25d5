#pragma once

namespace velm {

// In `automatic` the stylus taps, scrolls, or drags after a hold; in `pointer` it always drags (the
// button goes down when the stylus touches).
enum class PencilMode { automatic, pointer };

} // namespace velm
