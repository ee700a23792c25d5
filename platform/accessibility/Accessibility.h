#pragma once

#include <functional>

namespace velm {

class AccessibleTree;

// Where the accessibility tree may be read: one thread of its own, since the libraries behind it are
// not thread-safe and deliver their events only there.
class Accessibility {
public:
    using Visit = std::function<void(AccessibleTree&)>;

    virtual ~Accessibility() = default;

    // Runs `visit` on the tree's thread, after the visits posted before it. The visit must not keep
    // the elements it met, nor wait for anything that needs this thread.
    virtual void visit(Visit visit) = 0;
};

} // namespace velm
