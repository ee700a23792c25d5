#pragma once

#include <X11/Xlib.h>

namespace velm {

// What a property request answers: XGetWindowProperty, XRRGetOutputProperty and XIGetProperty
// all fill the same places. The data the server sent is freed with the reply.
struct X11PropertyReply {
    X11PropertyReply() = default;
    ~X11PropertyReply() {
        if (data) {
            XFree(data);
        }
    }
    X11PropertyReply(const X11PropertyReply&) = delete;
    X11PropertyReply& operator=(const X11PropertyReply&) = delete;

    // True when data came back with the type and item size (8, 16 or 32) asked for.
    bool holds(Atom expectedType, int expectedFormat) const {
        return data && type == expectedType && format == expectedFormat;
    }

    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
};

} // namespace velm
