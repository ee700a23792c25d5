#pragma once

#include "platform/core/Bytes.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Blocking.h"
#include "tests/support/X11DesktopTest.h"
#include "tests/support/X11SelectionPeer.h"

#include <memory>
#include <string>

namespace velm::test {

// A clipboard test on the sandbox's X server, with another application (the peer) that copies and
// reads there as the user's applications do.
class X11ClipboardTest : public X11DesktopTest {
protected:
    void SetUp() override {
        X11DesktopTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        peer = X11SelectionPeer::open();
        ASSERT_TRUE(peer);
    }

    // Waits until the peer reads `expected` from the clipboard as `target`.
    bool peerReads(const std::string& target, const Bytes& expected) {
        return Blocking::waitUntil([&] { return peer->read(target) == expected; });
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
    std::unique_ptr<X11SelectionPeer> peer;
};

} // namespace velm::test
