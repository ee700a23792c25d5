#pragma once

#include "Velm_Host/ui/AttachedScreen.h"
#include "platform/core/Bytes.h"
#include "protocol/DeviceModel.h"
#include "protocol/DeviceShape.h"

#include <QImage>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velm {

// Pictures of devices from the icon theme: a device's picture is the theme's icon named after its
// model code ("MacBookPro18,1"), and a display's the icon named after its type. Icons are
// rendered for 1024 × 1024 pixels. Looking icons up needs the application object; without one,
// and for a name that could not be an icon's (empty, too long, or with characters other than
// letters, digits, ",", ".", "_" and "-", or starting with "."), there is no picture. Callable
// from any thread: these lookups take turns with every other use of the icon theme.

// The theme's picture of the model, or nothing.
std::optional<QImage> deviceIconImage(std::string_view model);

// The type under which the screen beside this computer is pictured ("com.apple.studio-display"
// or "com.apple.pro-display-xdr"), decided by the first screen that tells its maker and is not
// the host's own virtual display; nothing when there is no such screen.
std::optional<std::string> macDisplayType(std::span<const AttachedScreen> screens, DeviceShape ownShape);

// PNG data of this computer's picture: the theme's picture of its model, else the theme's
// "computer" icon, else the computer drawn by shape. Nothing only when encoding fails.
std::optional<Bytes> hostIconPNG(const DeviceModel& model = DeviceModel::current());

// PNG data of the picture of the screen beside this computer, only for a computer without a
// built-in screen and with a qualifying screen attached: the theme's picture of the display's
// type, else the theme's "video-display" icon, else a display drawn by shape.
std::optional<Bytes> hostDisplayIconPNG(std::span<const AttachedScreen> screens,
                                        const DeviceModel& model = DeviceModel::current());

} // namespace velm
