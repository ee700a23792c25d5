#pragma once

#include "Velm_Host/ui/HostView.h"
#include "Velm_Host/ui/VelmHostApp.h"
#include "tests/host/model/ModelHarness.h"

#include <memory>
#include <string>

namespace velm::test {

// The reason of the goodbye the client received, if any.
std::optional<ByeReason> byeReason(const TestClient& client);

// A started host model for the views: ModelHarness's fakes, folders, manual main queue and real
// listener, with a wall clock that moves with the queue's virtual time (so the pairing window's end
// and its countdown agree), restart readiness read from the test's folders (no display manager, so
// only opening at login is known), two network interfaces of its own, and view options that draw
// device pictures on a queue of their own and write dates in en_US and UTC.

class WindowHarness {
public:
    WindowHarness();
    ~WindowHarness();

    HostView::Options viewOptions();
    // Runs the main queue's work and the pictures' loads, and delivers what they hand to the widgets.
    void settle();
    // Pairs a device named as its identifier, with a tablet's model.
    SecretBytes pairDevice(const std::string& id);
    // Waits for the started model to advertise, then settles; false if it never did.
    bool advertising();
    // Pairs the device and connects it, then settles; null if it never connected.
    std::unique_ptr<TestClient> connectDevice(const std::string& id);

    ModelHarness host;
    std::function<Date()> clock;
    std::filesystem::path autostartEntry;
    std::shared_ptr<ManualQueue> pictures = std::make_shared<ManualQueue>("pictures");
};

} // namespace velm::test
