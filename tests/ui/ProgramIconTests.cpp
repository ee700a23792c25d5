#include "Velm_Host/ui/MenuBarIcon.h"
#include "tests/support/Screenshots.h"

#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <gtest/gtest.h>

namespace velm {
namespace {

QString themeFile(int side) {
    return QString("%1/hicolor/%2x%2/apps/velm-host.png").arg(VELM_ICON_DIR).arg(side);
}

// The launcher's icon is the tray's picture, drawn at build time in every size of the icon theme.
TEST(ProgramIconTest, EveryThemeSizeIsTheTrayPicture) {
    for (const int side : {VELM_ICON_SIDES}) {
        const auto file = themeFile(side).toStdString();
        const QImage drawn(themeFile(side));
        ASSERT_FALSE(drawn.isNull()) << file;
        EXPECT_EQ(drawn.convertToFormat(QImage::Format_ARGB32),
                  MenuBarIcon::image(false, side).convertToFormat(QImage::Format_ARGB32))
            << file;
    }
    // The largest on a dark and on a light background, as launchers show it.
    const int side = std::max({VELM_ICON_SIDES});
    const QImage largest(themeFile(side));
    QImage both(2 * side + 16, side, QImage::Format_ARGB32_Premultiplied);
    both.fill(QColor(0x2B, 0x2B, 0x2B));
    QPainter painter(&both);
    painter.fillRect(side + 16, 0, side, side, QColor(0xF4, 0xF4, 0xF4));
    painter.drawImage(0, 0, largest);
    painter.drawImage(side + 16, 0, largest);
    painter.end();
    test::writeScreenshot(both, "ui_program_icon");
}

} // namespace
} // namespace velm
