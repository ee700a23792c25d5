#include "Velm_Host/ui/DeviceArt.h"
#include "Velm_Host/ui/DeviceParts.h"
#include "tests/support/DeviceShapes.h"
#include "tests/support/Screenshots.h"

#include <QPainter>
#include <array>
#include <cmath>
#include <gtest/gtest.h>

namespace velm {

void PrintTo(DeviceShape shape, std::ostream* out) {
    *out << test::deviceShapeName(shape);
}

namespace {

// A device drawn into a transparent picture, with what is needed to find its parts in it.
struct Drawn {
    QImage image;
    DeviceParts parts;
    QPointF origin;
    double scale = 0;

    QPoint pixel(QPointF units) const {
        const QPointF at = origin + units * scale;
        return {static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y()))};
    }
    QColor at(QPointF units) const { return image.pixelColor(pixel(units)); }
    QColor centreOf(const QRectF& units) const { return at(units.center()); }
};

Drawn draw(DeviceShape shape, double aspect, QSize size, std::optional<QImage> snapshot = std::nullopt) {
    Drawn drawn{QImage(size, QImage::Format_ARGB32_Premultiplied), {}, {}, 0};
    drawn.image.fill(Qt::transparent);
    const QRectF frame = QRectF(drawn.image.rect()).adjusted(16, 16, -16, -16);
    QPainter painter(&drawn.image);
    DeviceArt(shape, aspect, std::move(snapshot)).paint(painter, frame);
    painter.end();
    const auto geometry = *DeviceGeometry::of(shape, aspect);
    drawn.parts = DeviceParts::of(geometry);
    drawn.scale = std::min(frame.width() / geometry.outerWidth, frame.height() / geometry.outerHeight);
    drawn.origin = frame.center() - QPointF(geometry.outerWidth, geometry.outerHeight) * drawn.scale / 2;
    return drawn;
}

// The bounds of the pixels that are more opaque than any shadow.
QRect opaqueBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).alpha() >= 128) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

bool isColourful(const QColor& c) {
    return std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 40;
}

// The lightest opaque pixel on row `y` from column `from` to column `to`.
int lightestAcross(const QImage& image, int from, int to, int y) {
    int lightest = 0;
    for (int x = from; x <= to; ++x) {
        const QColor c = image.pixelColor(x, y);
        lightest = std::max(lightest, c.alpha() >= 200 ? c.red() : 0);
    }
    return lightest;
}

// A grey of about the given level (0...255).
bool isGrey(const QColor& c, int level, int tolerance = 30) {
    return c.alpha() == 255 && std::abs(c.red() - c.green()) <= 4 && std::abs(c.green() - c.blue()) <= 4 &&
           std::abs(c.red() - level) <= tolerance;
}

TEST(DeviceGeometry, MatchesTheWorkedExamples) {
    const auto ipad = *DeviceArt::geometry(DeviceShape::iPad, 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(ipad.outerWidth, 1.076);
    EXPECT_NEAR(ipad.outerHeight, 0.826, 1e-12);
    const auto pro = *DeviceArt::geometry(DeviceShape::macPro, 16.0 / 9.0);
    EXPECT_DOUBLE_EQ(pro.outerWidth, 1.282);
    EXPECT_NEAR(pro.outerHeight, 0.5625 + 0.156, 1e-12);
}

TEST(DeviceGeometry, CountsNarrowAspectsAsThreeTenthsAndRefusesDegenerateOnes) {
    EXPECT_NEAR(DeviceArt::geometry(DeviceShape::iPhone, 0.1)->screenHeight, 1 / 0.3, 1e-12);
    EXPECT_FALSE(DeviceArt::geometry(DeviceShape::iPhone, 0));
    EXPECT_FALSE(DeviceArt::geometry(DeviceShape::iPhone, -2));
    EXPECT_FALSE(DeviceArt::geometry(DeviceShape::iPhone, std::nan("")));
    EXPECT_FALSE(DeviceArt::geometry(DeviceShape::iPhone, INFINITY));
}

TEST(DeviceParts, EachShapeHasOnlyItsOwnPartsAllInsideTheDrawing) {
    for (const DeviceShape shape : test::allDeviceShapes) {
        SCOPED_TRACE(test::deviceShapeName(shape));
        const auto g = *DeviceGeometry::of(shape, DeviceGeometry::defaultScreenAspect(shape));
        const DeviceParts p = DeviceParts::of(g);
        const bool onStand = shape <= DeviceShape::macPro || shape == DeviceShape::iMac;
        EXPECT_EQ(p.neck.has_value(), onStand);
        EXPECT_EQ(p.foot.has_value(), onStand);
        EXPECT_EQ(p.desktopBox.has_value(), shape == DeviceShape::macMini || shape == DeviceShape::macStudio);
        EXPECT_EQ(p.tower.has_value(), shape == DeviceShape::macPro);
        EXPECT_EQ(p.laptopBase.has_value(), shape == DeviceShape::macBook);
        EXPECT_EQ(p.lidNotch.has_value(), shape == DeviceShape::macBook);
        EXPECT_EQ(p.chin.has_value(), shape == DeviceShape::iMac);
        EXPECT_EQ(p.homeButton.has_value(), shape == DeviceShape::iPadHomeButton);
        EXPECT_EQ(p.camera.has_value(), shape == DeviceShape::iPad || shape == DeviceShape::iPadPro);

        // The parts stack up to exactly the drawing's outer size, and none sticks out of it.
        const QRectF outer(0, 0, g.outerWidth, g.outerHeight);
        const auto inside = [&](const QRectF& r) {
            return outer.adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(r);
        };
        EXPECT_TRUE(inside(p.block));
        EXPECT_TRUE(p.block.contains(p.screen));
        QRectF spanned = p.block;
        for (const auto& part :
             {p.neck, p.foot, p.desktopBox, p.tower, p.laptopBase, p.chin, p.homeButton, p.camera}) {
            EXPECT_TRUE(!part || inside(*part));
            spanned |= part.value_or(p.block);
        }
        EXPECT_NEAR(spanned.width(), g.outerWidth, 1e-9);
        EXPECT_NEAR(spanned.height(), g.outerHeight, 1e-9);
    }
}

TEST(DeviceParts, PlacesDetailsByTheirFractions) {
    const auto ipad = DeviceParts::of(*DeviceGeometry::of(DeviceShape::iPad, 4.0 / 3.0));
    EXPECT_NEAR(ipad.screenRadius, 0.012, 1e-12);
    EXPECT_NEAR(ipad.camera->top(), 0.015, 1e-12) << "in the middle of the top bezel";
    EXPECT_NEAR(ipad.camera->center().x(), 1.076 / 2, 1e-12);
    EXPECT_NEAR(DeviceParts::of(*DeviceGeometry::of(DeviceShape::iPhone, 2.16)).screenRadius, 0.054, 1e-12);

    const auto button =
        *DeviceParts::of(*DeviceGeometry::of(DeviceShape::iPadHomeButton, 4.0 / 3.0)).homeButton;
    EXPECT_NEAR(button.center().x(), 1.2 - 0.05, 1e-12) << "in the middle of the side bezel";

    const auto pro = DeviceParts::of(*DeviceGeometry::of(DeviceShape::macPro, 16.0 / 9.0));
    EXPECT_NEAR(pro.tower->left(), 1.082, 1e-12);
    ASSERT_EQ(pro.towerHoles.size(), 36u);
    EXPECT_NEAR(pro.towerHoles[4].left() - pro.towerHoles[0].left(), 0.011, 1e-12);
    EXPECT_NEAR(pro.towerHoles[1].left() - pro.towerHoles[0].left(), 0.044, 1e-12);
}

class DeviceArtShapes : public testing::TestWithParam<DeviceShape> {};

TEST_P(DeviceArtShapes, KeepsItsProportionsAndShowsItsParts) {
    const DeviceShape shape = GetParam();
    const double aspect = DeviceGeometry::defaultScreenAspect(shape);
    const Drawn d = draw(shape, aspect, {520, 400});
    test::writeScreenshot(d.image, "DeviceArt-" + test::deviceShapeName(shape));

    const auto g = *DeviceGeometry::of(shape, aspect);
    const QRect box = opaqueBounds(d.image);
    EXPECT_NEAR(double(box.width()) / box.height(), g.outerWidth / g.outerHeight, 0.02);
    EXPECT_NEAR(box.width(), g.outerWidth * d.scale, 2.5);

    EXPECT_TRUE(isColourful(d.centreOf(d.parts.screen)));
    const QPointF bezelMiddle((d.parts.block.left() + d.parts.screen.left()) / 2,
                              d.parts.screen.center().y());
    EXPECT_TRUE(isGrey(d.at(bezelMiddle), shape == DeviceShape::iMac ? 237 : 9, 12)) << "bezel";
    if (d.parts.neck) {
        EXPECT_TRUE(isGrey(d.centreOf(*d.parts.neck), 172, 30));
    }
    if (d.parts.desktopBox) {
        EXPECT_TRUE(isGrey(d.centreOf(*d.parts.desktopBox), 204, 30));
    }
    if (d.parts.tower) {
        EXPECT_TRUE(isGrey(d.centreOf(*d.parts.tower), 204, 30));
        EXPECT_TRUE(isGrey(d.centreOf(d.parts.towerHoles[0]), 146, 30)) << "a hole darkens the aluminium";
    }
    if (d.parts.chin) {
        EXPECT_TRUE(isGrey(d.centreOf(*d.parts.chin), 204, 30));
    }
    if (d.parts.laptopBase) {
        EXPECT_TRUE(isGrey(d.at({0.1, d.parts.laptopBase->bottom() - 0.005}), 184, 40));
    }
    if (d.parts.homeButton) {
        const QRectF b = *d.parts.homeButton;
        const QPoint left = d.pixel(b.topLeft());
        EXPECT_GE(lightestAcross(d.image, left.x(), left.x() + 2, d.pixel(b.center()).y()), 60) << "the ring";
        EXPECT_TRUE(isGrey(d.centreOf(b), 9, 12)) << "inside the ring";
    }
    if (d.parts.camera) {
        EXPECT_TRUE(isGrey(d.centreOf(*d.parts.camera), 41, 16));
    }
}

INSTANTIATE_TEST_SUITE_P(AllShapes, DeviceArtShapes, testing::ValuesIn(test::allDeviceShapes),
                         [](const testing::TestParamInfo<DeviceShape>& shape) {
                             return test::deviceShapeName(shape.param);
                         });

TEST(DeviceArt, KeepsHairlinesVisibleWhenDrawnSmall) {
    for (const DeviceShape shape : {DeviceShape::iPad, DeviceShape::display}) {
        SCOPED_TRACE(test::deviceShapeName(shape));
        const Drawn d = draw(shape, 16.0 / 9, {32 + 48, 32 + 48});
        test::writeScreenshot(d.image, "DeviceArt-small-" + test::deviceShapeName(shape));
        // Across the block's left edge at mid-height: the rim shows as a grey clearly lighter
        // than the bezel, however thin the fraction makes it.
        const int lightest =
            lightestAcross(d.image, d.pixel(d.parts.block.topLeft()).x(),
                           d.pixel(d.parts.screen.topLeft()).x(), d.pixel(d.parts.block.center()).y());
        EXPECT_GE(lightest, 60);
    }
}

TEST(DeviceArt, DrawsEveryShapeWithinTinyFrames) {
    // Thumbnails and menu icons draw devices a few points wide, narrower than the lines stroked
    // inside their parts: the drawing must still stay inside its frame.
    constexpr int margin = 24;
    for (const DeviceShape shape : test::allDeviceShapes) {
        for (const int side : {1, 5, 12, 20}) {
            SCOPED_TRACE(test::deviceShapeName(shape) + " at " + std::to_string(side));
            QImage image(side + 2 * margin, side + 2 * margin, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            const QRectF frame(margin, margin, side, side);
            DeviceArt(shape, DeviceGeometry::defaultScreenAspect(shape), std::nullopt).paint(painter, frame);
            painter.end();
            const QRect opaque = opaqueBounds(image);
            if (!opaque.isNull()) {
                EXPECT_TRUE(frame.toAlignedRect().adjusted(-1, -1, 1, 1).contains(opaque))
                    << opaque.x() << "," << opaque.width();
            }
        }
    }
}

TEST(DeviceArt, LetterboxesTheSnapshotOnBlack) {
    QImage snapshot(400, 100, QImage::Format_RGB32);
    snapshot.fill(Qt::red);
    const Drawn d = draw(DeviceShape::iPad, 4.0 / 3, {600, 460}, snapshot);
    test::writeScreenshot(d.image, "DeviceArt-snapshot");
    const QRectF s = d.parts.screen;
    EXPECT_GT(d.centreOf(s).red(), 240);
    EXPECT_LT(d.centreOf(s).green(), 30);
    const QColor band = d.at({s.center().x(), s.bottom() - 0.05});
    EXPECT_LT(band.red() + band.green() + band.blue(), 40) << "black below the picture";
}

// Everything a drawing covers, its faintest shadows included.
QRect coveredBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).alpha() >= 8) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

TEST(DeviceArt, CastsItsShadowsWhereTheyFallAtAnyPixelRatio) {
    // HiDPI screens paint portraits into pictures of two device pixels per point: the drawing,
    // shadows and all, must cover the same points as at one.
    std::array<QRect, 2> covered;
    for (const int ratio : {1, 2}) {
        QImage image(QSize(300, 300) * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        DeviceArt(DeviceShape::iPad, 4.0 / 3, std::nullopt).paint(painter, QRectF(50, 50, 200, 200));
        painter.end();
        test::writeScreenshot(image, "DeviceArt-pixelRatio" + std::to_string(ratio));
        covered[static_cast<std::size_t>(ratio - 1)] = coveredBounds(image);
    }
    const QRect once = covered[0];
    const QRect twice = covered[1];
    EXPECT_NEAR(twice.left(), 2 * once.left(), 4);
    EXPECT_NEAR(twice.top(), 2 * once.top(), 4);
    EXPECT_NEAR(twice.right(), 2 * once.right(), 4);
    EXPECT_NEAR(twice.bottom(), 2 * once.bottom(), 4);
}

TEST(DeviceArt, DrawsNothingForUnusableSizes) {
    QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QImage empty = image;
    QPainter painter(&image);
    DeviceArt(DeviceShape::iPad, std::nan(""), std::nullopt).paint(painter, image.rect());
    DeviceArt(DeviceShape::iPad, INFINITY, std::nullopt).paint(painter, image.rect());
    DeviceArt(DeviceShape::iPad, 0, std::nullopt).paint(painter, image.rect());
    DeviceArt(DeviceShape::iMac, 1.5, std::nullopt).paint(painter, QRectF(10, 10, 0, 50));
    DeviceArt(DeviceShape::iMac, 1.5, std::nullopt).paint(painter, QRectF(10, 10, NAN, 50));
    DeviceArt(DeviceShape::iMac, 1.5, QImage()).paint(painter, QRectF(10, 10, -40, 50));
    painter.end();
    EXPECT_EQ(image, empty);
}

} // namespace
} // namespace velm
