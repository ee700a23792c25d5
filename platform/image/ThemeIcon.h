#pragma once

#include "platform/core/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

// Declared only: callers of image() have Qt Gui at hand, this header's other users need not.
class QImage;

namespace velm {

// Application icons from the icon theme, drawn with Qt Gui, which reads the themes' SVG icons
// through Qt's SVG module. Needs the process's QGuiApplication (the offscreen platform serves
// where there is no display).
namespace ThemeIcon {

inline constexpr int defaultSide = 128;
// An icon named by its path is read only when its file is at most this long: far more than any icon.
inline constexpr std::uintmax_t maxFileBytes = 8 * 1024 * 1024;

// `icon` is a theme icon name or an absolute file path. The icon as the theme draws it for
// `side` × `side` pixels (a theme without that size may give a smaller picture); nothing when
// there is no such icon or no QGuiApplication. Callable from any thread: Qt's icon loader and its
// caches are shared by the whole process and guard nothing, so every use of the icon theme in
// this program goes through here, one at a time.
std::optional<QImage> image(const std::string& icon, int side);

// `icon` is a theme icon name or an absolute file path. The picture as a PNG of `side` × `side`
// pixels, the icon centred and scaled to fit; nothing when there is no such icon or no
// QGuiApplication.
std::optional<Bytes> png(const std::string& icon, int side = defaultSide);

} // namespace ThemeIcon

} // namespace velm
