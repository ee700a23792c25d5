#pragma once

#include "input/Geometry.h"

#include <functional>
#include <optional>

namespace velm {

// A watch on the desktop's keyboard focus: whether it takes text and where the field lies. The session's
// text focus calls it on the session's queue; the handlers are called on a queue of the watch's own.
class TextFocusWatch {
public:
    virtual ~TextFocusWatch() = default;

    // Whether the focus now takes text; the first reading after each start always tells.
    virtual void setOnChange(std::function<void(bool takesText)> handler) = 0;
    // The focused text field's frame in root coordinates, or nothing when there is none or it won't say
    // where it is; told when it appears, goes or moves.
    virtual void setOnAreaChange(std::function<void(std::optional<Rect> frame)> handler) = 0;

    // (Re)starts watching at the normal rate, with everything remembered forgotten.
    virtual void start() = 0;
    // Watches less often while the user is away; no effect while stopped.
    virtual void setQuiet(bool quiet) = 0;
    // Stops watching; nothing is reported afterwards.
    virtual void stop() = 0;
};

} // namespace velm
