#include "Velm_Host/ui/DeviceParts.h"

#include <algorithm>

namespace velm {
namespace {

constexpr double neckWidth = 0.17;
constexpr double footWidth = 0.32;
constexpr double standGap = 0.05;
constexpr double towerWidth = 0.2;
constexpr double towerHeight = 0.46;
constexpr double holeSize = 0.022;
constexpr int latticeRows = 9;
constexpr int latticeColumns = 4;

QRectF centredAcross(double outerWidth, double top, double width, double height) {
    return {(outerWidth - width) / 2, top, width, height};
}

// The neck and foot of a stand under a block `width` wide whose bottom is at `top`.
void addStand(DeviceParts& parts, double width, double top) {
    parts.neck = centredAcross(width, top, neckWidth, DeviceGeometry::neckHeight);
    parts.foot =
        centredAcross(width, top + DeviceGeometry::neckHeight, footWidth, DeviceGeometry::footHeight);
}

// Rows of round holes, every second row shifted half a hole towards the trailing side; the
// lattice is centred as if unshifted.
std::vector<QRectF> lattice(const QRectF& tower) {
    const double pitch = 2 * holeSize;
    const double width = latticeColumns * pitch - holeSize;
    const double height = latticeRows * pitch - holeSize;
    const QPointF origin(tower.center().x() - width / 2, tower.center().y() - height / 2);
    std::vector<QRectF> holes;
    for (int row = 0; row < latticeRows; ++row) {
        const double shift = row % 2 == 1 ? holeSize / 2 : 0;
        for (int column = 0; column < latticeColumns; ++column) {
            holes.emplace_back(origin.x() + column * pitch + shift, origin.y() + row * pitch, holeSize,
                               holeSize);
        }
    }
    return holes;
}

void layOutStandMounted(DeviceParts& parts, const DeviceGeometry& g) {
    const double width = 1 + 2 * g.sideBezel;
    parts.block = QRectF(0, 0, width, g.screenHeight + 2 * g.topBezel);
    parts.blockRadius = 0.02;
    parts.screenRadius = 0.005;
    addStand(parts, width, parts.block.bottom());
    const auto box = [&](double boxWidth, double boxHeight, double radius, double inset) {
        parts.desktopBox = QRectF(width - inset - boxWidth, g.outerHeight - boxHeight, boxWidth, boxHeight);
        parts.desktopBoxRadius = radius;
    };
    if (g.shape == DeviceShape::macStudio) {
        box(0.27, 0.135, 0.022, 0.04);
    } else if (g.shape == DeviceShape::macMini) {
        box(0.19, 0.075, 0.018, 0.1);
    } else if (g.shape == DeviceShape::macPro) {
        parts.tower = QRectF(width + standGap, g.outerHeight - towerHeight, towerWidth, towerHeight);
        parts.towerHoles = lattice(*parts.tower);
    }
}

void layOutLaptop(DeviceParts& parts, const DeviceGeometry& g) {
    const double lidWidth = 1 + 2 * g.sideBezel;
    parts.block = centredAcross(g.outerWidth, 0, lidWidth, g.screenHeight + 2 * g.topBezel);
    parts.blockRadius = 0.022;
    parts.screenRadius = 0.005;
    parts.laptopBase = QRectF(0, parts.block.bottom(), g.outerWidth, DeviceGeometry::laptopBaseHeight);
    parts.lidNotch = centredAcross(g.outerWidth, parts.block.bottom(), 0.15, 0.009);
}

void layOutAllInOne(DeviceParts& parts, const DeviceGeometry& g) {
    const double width = 1 + 2 * g.sideBezel;
    const double chinTop = g.topBezel + g.screenHeight;
    parts.block = QRectF(0, 0, width, chinTop + DeviceGeometry::chinHeight);
    parts.blockRadius = 0.022;
    parts.screenRadius = 0.006;
    parts.chin = QRectF(0, chinTop, width, DeviceGeometry::chinHeight);
    addStand(parts, width, parts.block.bottom());
}

void layOutHandheld(DeviceParts& parts, const DeviceGeometry& g) {
    parts.block = QRectF(0, 0, g.outerWidth, g.outerHeight);
    switch (g.shape) {
    case DeviceShape::iPadHomeButton: {
        constexpr double button = 0.055;
        parts.blockRadius = 0.045;
        parts.screenRadius = 0.004;
        parts.homeButton =
            QRectF(g.outerWidth - 0.0225 - button, (g.outerHeight - button) / 2, button, button);
        break;
    }
    case DeviceShape::iPhone:
        parts.blockRadius = 0.07;
        parts.screenRadius = std::max(0.07 - g.sideBezel, 0.01);
        break;
    default: {
        constexpr double camera = 0.008;
        parts.blockRadius = 0.05;
        parts.screenRadius = std::max(0.05 - g.sideBezel, 0.01);
        parts.camera = centredAcross(g.outerWidth, (g.topBezel - camera) / 2, camera, camera);
        break;
    }
    }
}

} // namespace

DeviceParts DeviceParts::of(const DeviceGeometry& g) {
    DeviceParts parts;
    switch (g.shape) {
    case DeviceShape::display:
    case DeviceShape::macMini:
    case DeviceShape::macStudio:
    case DeviceShape::macPro:
        layOutStandMounted(parts, g);
        break;
    case DeviceShape::macBook:
        layOutLaptop(parts, g);
        break;
    case DeviceShape::iMac:
        layOutAllInOne(parts, g);
        break;
    case DeviceShape::iPad:
    case DeviceShape::iPadPro:
    case DeviceShape::iPadHomeButton:
    case DeviceShape::iPhone:
        layOutHandheld(parts, g);
        break;
    }
    parts.screen =
        QRectF(parts.block.left() + g.sideBezel, parts.block.top() + g.topBezel, 1, g.screenHeight);
    return parts;
}

} // namespace velm
