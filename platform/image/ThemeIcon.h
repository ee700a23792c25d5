#pragma once

#include "platform/core/Bytes.h"

#include <optional>
#include <string>

namespace velm {

// Application icons from the icon theme, drawn with Qt Gui, which reads the themes' SVG icons
// through Qt's SVG module. Needs the process's QGuiApplication (the offscreen platform serves
// where there is no display) and must be called on its thread, as QPixmap wants.
namespace ThemeIcon {

inline constexpr int defaultSide = 128;

// `icon` is a theme icon name or an absolute file path. The picture as a PNG of `side` × `side`
// pixels, the icon centred and scaled to fit; nothing when there is no such icon or no
// QGuiApplication.
std::optional<Bytes> png(const std::string& icon, int side = defaultSide);

} // namespace ThemeIcon

} // namespace velm
