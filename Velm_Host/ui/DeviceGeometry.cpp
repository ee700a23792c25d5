#include "Velm_Host/ui/DeviceGeometry.h"

#include <algorithm>
#include <cmath>

namespace velm {
namespace {

constexpr double minimumAspect = 0.3;

} // namespace

std::optional<DeviceGeometry> DeviceGeometry::of(DeviceShape shape, double screenAspect) {
    if (!std::isfinite(screenAspect) || screenAspect <= 0) {
        return std::nullopt;
    }
    const double h = 1 / std::max(screenAspect, minimumAspect);
    const auto make = [&](double side, double top, double width, double below) {
        return DeviceGeometry{shape, h, side, top, width, h + below};
    };
    switch (shape) {
    case DeviceShape::display:
    case DeviceShape::macMini:
    case DeviceShape::macStudio:
        return make(0.016, 0.016, 1.032, 0.032 + neckHeight + footHeight);
    case DeviceShape::macPro:
        return make(0.016, 0.016, 1.282, 0.032 + neckHeight + footHeight);
    case DeviceShape::macBook:
        return make(0.014, 0.014, 1.198, 0.028 + laptopBaseHeight);
    case DeviceShape::iMac:
        return make(0.02, 0.02, 1.04, 0.02 + chinHeight + neckHeight + footHeight);
    case DeviceShape::iPad:
        return make(0.038, 0.038, 1.076, 0.076);
    case DeviceShape::iPadPro:
        return make(0.026, 0.026, 1.052, 0.052);
    case DeviceShape::iPadHomeButton:
        return make(0.1, 0.04, 1.2, 0.08);
    case DeviceShape::iPhone:
        return make(0.016, 0.016, 1.032, 0.032);
    }
    return std::nullopt;
}

double DeviceGeometry::defaultScreenAspect(DeviceShape shape) {
    switch (shape) {
    case DeviceShape::display:
    case DeviceShape::macMini:
    case DeviceShape::macStudio:
    case DeviceShape::macPro:
    case DeviceShape::iMac:
        return 16.0 / 9.0;
    case DeviceShape::macBook:
        return 1.54;
    case DeviceShape::iPad:
    case DeviceShape::iPadPro:
    case DeviceShape::iPadHomeButton:
        return 4.0 / 3.0;
    case DeviceShape::iPhone:
        return 2.16;
    }
    return 16.0 / 9.0;
}

bool DeviceGeometry::standsBesideItsScreen(DeviceShape shape) {
    return shape == DeviceShape::display || shape == DeviceShape::macMini ||
           shape == DeviceShape::macStudio || shape == DeviceShape::macPro;
}

} // namespace velm
