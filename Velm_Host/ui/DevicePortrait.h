#pragma once

#include "Velm_Host/ui/GuiHandoff.h"
#include "Velm_Host/ui/PortraitLook.h"
#include "Velm_Host/ui/PortraitSources.h"
#include "Velm_Host/ui/SnapshotWatch.h"
#include "platform/dispatch/Queue.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

namespace velm {

// The picture of one paired device: its own picture with its screen filled, a computer beside its
// snapshot, or the device drawn by shape. Finding the pictures is blocking image work, done on a
// background queue; until the first load is done the device is drawn. Each new snapshot of the
// device (its revision in the snapshot store) loads the pictures again; only the latest load
// started is ever shown, however the loads finish. Decoration only: it takes no input.
class DevicePortrait : public QWidget {
public:
    using Look = PortraitLook;

    // The pictures are loaded on `loadQueue`; nothing is read before the portrait is made.
    DevicePortrait(PortraitSources sources, std::shared_ptr<SnapshotWatch> snapshots,
                   std::shared_ptr<Queue> loadQueue, QWidget* parent = nullptr);
    ~DevicePortrait() override;

    DevicePortrait(const DevicePortrait&) = delete;
    DevicePortrait& operator=(const DevicePortrait&) = delete;

    // 1 paints in full colour, 0 in greys.
    void setSaturation(double saturation);

    const Look& look() const { return look_; }
    // The snapshot revision the shown look was loaded for; nothing before the first load is done,
    // or when the store had no revision for the device.
    std::optional<std::uint64_t> shownRevision() const { return shownRevision_; }
    bool hasLoaded() const { return hasLoaded_; }
    // How many loads were started.
    std::uint64_t loadGeneration() const { return generation_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void load();
    void snapshotsChanged();
    void present(std::uint64_t generation, std::optional<std::uint64_t> revision, Look look);

    const PortraitSources sources_;
    const std::shared_ptr<SnapshotWatch> snapshots_;
    const std::shared_ptr<Queue> loadQueue_;
    const std::shared_ptr<GuiHandoff> handoff_;
    double saturation_ = 1;
    Look look_;
    bool hasLoaded_ = false;
    std::optional<std::uint64_t> shownRevision_;
    // The revision the latest load was started for.
    std::optional<std::uint64_t> loadingRevision_;
    std::uint64_t generation_ = 0;
};

} // namespace velm
