#pragma once

#include "protocol/DeviceShape.h"

#include <optional>

namespace velm {

// The proportions of a drawn device, in units of its screen's width (the screen is 1 wide).
struct DeviceGeometry {
    // The parts under a screen: a stand's neck and foot, an all-in-one's chin, a laptop's base.
    static constexpr double neckHeight = 0.11;
    static constexpr double footHeight = 0.014;
    static constexpr double chinHeight = 0.11;
    static constexpr double laptopBaseHeight = 0.03;

    DeviceShape shape = DeviceShape::display;
    // 1 / the screen's aspect; an aspect below 0.3 counts as 0.3, so a narrow screen cannot
    // grow without bound.
    double screenHeight = 0;
    double sideBezel = 0;
    // Above the screen and, where drawn, below it.
    double topBezel = 0;
    double outerWidth = 0;
    double outerHeight = 0;

    // Nothing for an aspect that is not a finite number above 0: there is no screen to draw.
    static std::optional<DeviceGeometry> of(DeviceShape shape, double screenAspect);

    // The aspect (width / height) to draw a device's screen at when nothing better is known.
    static double defaultScreenAspect(DeviceShape shape);

    // A computer whose screen stands beside it: a display, a desktop box or a tower.
    static bool standsBesideItsScreen(DeviceShape shape);
};

} // namespace velm
