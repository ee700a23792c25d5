#pragma once

#include "Velm_Host/ui/DeviceGeometry.h"

#include <QRectF>
#include <optional>
#include <vector>

namespace velm {

// Where each part of a drawn device lies, in units of the screen's width, with the origin at the
// top-left corner of the whole drawing (`outerWidth` × `outerHeight`) and y downwards. A part the
// shape does not have is absent.
struct DeviceParts {
    // The screen with its bezel: a display's panel, a laptop's lid, an all-in-one's head (chin
    // included), or a whole tablet or phone.
    QRectF block;
    QRectF screen;
    double blockRadius = 0;
    double screenRadius = 0;

    std::optional<QRectF> neck;
    std::optional<QRectF> foot;
    // A small desktop computer standing in front of the display's foot.
    std::optional<QRectF> desktopBox;
    double desktopBoxRadius = 0;
    // A tower beside the display, and the holes of its front lattice.
    std::optional<QRectF> tower;
    std::vector<QRectF> towerHoles;
    std::optional<QRectF> laptopBase;
    std::optional<QRectF> lidNotch;
    std::optional<QRectF> chin;
    std::optional<QRectF> homeButton;
    std::optional<QRectF> camera;

    static DeviceParts of(const DeviceGeometry& geometry);
};

} // namespace velm
