#pragma once

#include "protocol/DeviceShape.h"

#include <QImage>
#include <QSizeF>
#include <functional>
#include <optional>
#include <string>

namespace velm {

// What a device portrait is made from. The functions are called on background threads, so they
// must be safe to call from any thread; an empty function gives nothing.
struct PortraitSources {
    using Picture = std::function<std::optional<QImage>()>;
    // Given the found screen's width and height in pixels.
    using ScreenFill = std::function<std::optional<QImage>(QSizeF pixels)>;

    // The device's identifier, and the key of its snapshot in the snapshot store.
    std::string id;
    DeviceShape shape = DeviceShape::iPad;
    // The device's screen width / height as last known; zero or less counts as unknown.
    std::optional<double> knownScreenAspect;
    bool showsSnapshot = false;
    // The device's own picture.
    Picture picture;
    // The display that stands beside a computer without a screen of its own.
    Picture display;
    // What the screen of the device's picture shows when there is no snapshot.
    ScreenFill screenFill;
};

} // namespace velm
