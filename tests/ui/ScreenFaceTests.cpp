#include "Velm_Host/ui/MeshGradient.h"
#include "Velm_Host/ui/ScreenFace.h"
#include "tests/support/Colours.h"
#include "tests/support/Screenshots.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace velm {
namespace {

using test::near;

TEST(MeshGradient, PutsEachColourAtItsPointAndCoversTheWholeArea) {
    const QImage field = MeshGradient::screen().rendered({320, 200});
    test::writeScreenshot(field, "MeshGradient-screen");
    EXPECT_TRUE(near(field.pixelColor(0, 0), 0.345F, 0.337F, 0.839F, 10)) << "indigo";
    EXPECT_TRUE(near(field.pixelColor(319, 0), 0.196F, 0.678F, 0.902F, 10)) << "cyan";
    EXPECT_TRUE(near(field.pixelColor(0, 199), 0.1F, 0.05F, 0.3F, 10)) << "night";
    EXPECT_TRUE(near(field.pixelColor(192, 80), 0.0F, 0.478F, 1.0F, 10)) << "blue, off centre";
    for (int y = 0; y < field.height(); ++y) {
        for (int x = 0; x < field.width(); ++x) {
            ASSERT_EQ(field.pixelColor(x, y).alpha(), 255) << x << "," << y;
        }
    }
    EXPECT_TRUE(MeshGradient::screen().rendered({0, 10}).isNull());
    EXPECT_TRUE(MeshGradient::screen().rendered({5000, 10}).isNull());
}

TEST(ScreenFace, ClipsToItsCornersAndGlaresFromTheTopLeft) {
    QImage image(200, 150, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    ScreenFace{std::nullopt, 20}.paint(painter, QRectF(0, 0, 200, 150));
    painter.end();
    test::writeScreenshot(image, "ScreenFace-field");
    EXPECT_EQ(image.pixelColor(1, 1).alpha(), 0) << "outside the rounded corner";
    const QColor glared = image.pixelColor(20, 20);
    const QColor bare = MeshGradient::screen().rendered({200, 150}).pixelColor(20, 20);
    EXPECT_GT(glared.red(), bare.red()) << "a faint white glare";
}

} // namespace
} // namespace velm
