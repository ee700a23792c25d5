#pragma once

#include "Velm_Host/ui/PortraitSources.h"
#include "protocol/DeviceShape.h"

#include <QImage>
#include <optional>

namespace velm {

class SnapshotStore;

// The pictures a device portrait shows, found by background work. At most one of `whole` and
// `lone` is present; with neither, the device is drawn by shape.
struct PortraitLook {
    // The device's last snapshot, when one was read.
    std::optional<QImage> snapshot;
    // A finished picture of the whole device, shown as it is.
    std::optional<QImage> whole;
    // A computer without a screen of its own, shown beside the snapshot.
    std::optional<QImage> lone;

    // Reads the snapshot (when asked for) and the pictures, and puts them together: the device's
    // picture with its screen filled, else one beside its display with the display's screen
    // filled, else the computer alone, else nothing but the snapshot. Blocking image work for a
    // background thread; every failure falls back to a simpler picture.
    static PortraitLook load(const PortraitSources& sources, const SnapshotStore& store);

    // The screen aspect (width / height) to draw the device at: a snapshot's, for a computer whose
    // screen stands beside it (kept within 4:3 and 2.4:1), else the known aspect when above 0, else
    // the shape's usual one. A laptop's, all-in-one's, tablet's or phone's screen is never taken
    // from a snapshot, which may show a screen of another size.
    static double screenAspect(std::optional<double> knownScreenAspect, DeviceShape shape,
                               const std::optional<QImage>& snapshot);
};

} // namespace velm
