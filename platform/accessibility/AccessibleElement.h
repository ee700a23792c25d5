#pragma once

#include <memory>

namespace velm {

// One element of the accessibility tree: a button, a text field, a window. It is a handle that only
// the tree which gave it understands, and only during the visit that gave it (the real tree's
// elements may be touched on its own thread alone). Two handles are equal when they name the same
// element.
class AccessibleElement {
public:
    explicit AccessibleElement(std::shared_ptr<void> handle) : handle_(std::move(handle)) {}

    void* handle() const { return handle_.get(); }

    friend bool operator==(const AccessibleElement&, const AccessibleElement&) = default;

private:
    std::shared_ptr<void> handle_;
};

} // namespace velm
