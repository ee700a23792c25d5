#include "Velm_Host/ui/DeviceIcons.h"

#include "Velm_Host/core/VirtualDisplayIdentity.h"
#include "Velm_Host/ui/DeviceArt.h"
#include "Velm_Host/ui/DeviceGeometry.h"
#include "platform/image/ThemeIcon.h"

#include <QBuffer>
#include <QPainter>
#include <cmath>

namespace velm {
namespace {

constexpr int iconSide = 1024;
// Model codes and type names are short; a longer name is not one of ours.
constexpr std::size_t maxIconNameBytes = 128;
// Room round a drawn device for its shadows, in units of its screen's width.
constexpr double drawnMargin = 0.08;

constexpr std::string_view studioDisplayType = "com.apple.studio-display";
constexpr std::string_view proDisplayType = "com.apple.pro-display-xdr";

// Model codes come from other devices: only plain names may reach the theme's file lookup, so
// none can climb out of the icon folders.
bool isIconName(std::string_view name) {
    if (name.empty() || name.size() > maxIconNameBytes || name.front() == '.') {
        return false;
    }
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == ',' || c == '.' || c == '_' || c == '-';
        if (!plain) {
            return false;
        }
    }
    return true;
}

std::optional<QImage> themeIcon(std::string_view name) {
    if (!isIconName(name)) {
        return std::nullopt;
    }
    return ThemeIcon::image(std::string(name), iconSide);
}

// The device drawn by shape, 1024 pixels wide with room for its shadows, on a clear background.
QImage drawnDevice(DeviceShape shape) {
    const double aspect = DeviceGeometry::defaultScreenAspect(shape);
    const auto geometry = DeviceGeometry::of(shape, aspect);
    const double scale = iconSide / (geometry->outerWidth + 2 * drawnMargin);
    const int height = static_cast<int>(std::ceil(scale * (geometry->outerHeight + 2 * drawnMargin)));
    QImage image(iconSide, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const double margin = drawnMargin * scale;
    DeviceArt(shape, aspect, std::nullopt)
        .paint(painter, QRectF(image.rect()).adjusted(margin, margin, -margin, -margin));
    painter.end();
    return image;
}

std::optional<Bytes> png(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        return std::nullopt;
    }
    return Bytes(data.begin(), data.end());
}

} // namespace

std::optional<QImage> deviceIconImage(std::string_view model) {
    return themeIcon(model);
}

std::optional<std::string> macDisplayType(std::span<const AttachedScreen> screens, DeviceShape ownShape) {
    for (const AttachedScreen& screen : screens) {
        if (!screen.vendor || *screen.vendor == VirtualDisplayIdentity::vendor) {
            continue;
        }
        if (screen.name.find("XDR") != std::string::npos || ownShape == DeviceShape::macPro) {
            return std::string(proDisplayType);
        }
        return std::string(studioDisplayType);
    }
    return std::nullopt;
}

std::optional<Bytes> hostIconPNG(const DeviceModel& model) {
    if (auto icon = deviceIconImage(model.identifier)) {
        return png(*icon);
    }
    if (auto icon = themeIcon("computer")) {
        return png(*icon);
    }
    return png(drawnDevice(deviceShape(model.identifier, model.name)));
}

std::optional<Bytes> hostDisplayIconPNG(std::span<const AttachedScreen> screens, const DeviceModel& model) {
    const DeviceShape ownShape = deviceShape(model.identifier, model.name);
    if (!DeviceGeometry::standsBesideItsScreen(ownShape)) {
        return std::nullopt;
    }
    const auto type = macDisplayType(screens, ownShape);
    if (!type) {
        return std::nullopt;
    }
    if (auto icon = themeIcon(*type)) {
        return png(*icon);
    }
    if (auto icon = themeIcon("video-display")) {
        return png(*icon);
    }
    return png(drawnDevice(DeviceShape::display));
}

} // namespace velm
