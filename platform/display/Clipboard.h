#pragma once

#include "platform/display/ClipboardContent.h"

#include <functional>

namespace velm {

// The desktop's clipboard, both ways.
class Clipboard {
public:
    using ContentHandler = std::function<void(ClipboardContent)>;
    using FailureHandler = std::function<void(ClipboardReadFailure)>;

    virtual ~Clipboard() = default;

    // Called on the owner's queue with what a local application put on the clipboard while
    // watching; never with what `put` placed there.
    virtual void setOnLocalChange(ContentHandler handler) = 0;
    // Called on the owner's queue when such a change could not be read.
    virtual void setOnReadFailure(FailureHandler handler) = 0;
    // Each startWatching holds the watch until a stopWatching of its own: users that overlap (one
    // session and the next) do not end each other's watch.
    virtual void startWatching() = 0;
    virtual void stopWatching() = 0;
    // Offers text or a PNG to local applications until one of them puts something else there.
    // Files are not offered this way and are ignored.
    virtual void put(ClipboardContent content) = 0;
};

} // namespace velm
