#include "Velm_Host/core/SnapshotStore.h"
#include "Velm_Host/ui/DevicePortrait.h"
#include "Velm_Host/ui/LoneLayout.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/image/Jpeg.h"
#include "tests/support/DeviceShapes.h"
#include "tests/support/QtEvents.h"
#include "tests/support/Screenshots.h"
#include "tests/support/TemporaryFolder.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QPainter>
#include <deque>
#include <gtest/gtest.h>

namespace velm {
namespace {

// A device seen from the front: a dark body, and a blue screen inset by `bezel` when asked for.
QImage devicePicture(QSize size, int bezel, bool withScreen = true) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(40, 40, 44));
    if (withScreen) {
        painter.fillRect(image.rect().adjusted(bezel, bezel, -bezel, -bezel), QColor(10, 60, 200));
    }
    return image;
}

// Something like a desktop: a sky, a bar and two windows.
QImage desktop(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(250, 160, 90));
    sky.setColorAt(1, QColor(120, 60, 150));
    painter.fillRect(image.rect(), sky);
    painter.fillRect(QRect(0, 0, size.width(), size.height() / 24), QColor(240, 240, 240));
    painter.fillRect(QRect(size.width() / 10, size.height() / 5, size.width() / 2, size.height() / 2),
                     Qt::white);
    painter.fillRect(QRect(size.width() / 2, size.height() / 3, size.width() / 3, size.height() / 2),
                     QColor(30, 30, 36));
    return image;
}

Bytes jpeg(const QImage& picture) {
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    Image image{rgba.width(), rgba.height(), Image::Format::rgba, {}};
    for (int y = 0; y < rgba.height(); ++y) {
        const auto* row = rgba.constScanLine(y);
        image.pixels.insert(image.pixels.end(), row, row + 4 * rgba.width());
    }
    return Jpeg::encode(image, 90).value();
}

PortraitSources::Picture giving(const QImage& image) {
    return [image] { return std::optional<QImage>(image); };
}

// Runs posted work newest first, so that an earlier load can be made to finish last.
class HeldQueue final : public Queue {
public:
    void post(std::function<void()> work) override { held_.push_back(std::move(work)); }
    WorkItem postAfter(Clock::duration, std::function<void()> work) override {
        post(std::move(work));
        return {};
    }
    bool isCurrent() const override { return false; }
    Clock::time_point now() const override { return Clock::now(); }
    const std::string& label() const override { return label_; }

    std::size_t heldCount() const { return held_.size(); }
    void runNewest() {
        auto work = std::move(held_.back());
        held_.pop_back();
        work();
    }
    void runOldest() {
        auto work = std::move(held_.front());
        held_.pop_front();
        work();
    }

private:
    std::deque<std::function<void()>> held_;
    std::string label_ = "held";
};

class PortraitTest : public ::testing::Test {
protected:
    PortraitSources sources(std::string id, DeviceShape shape) const {
        PortraitSources made;
        made.id = std::move(id);
        made.shape = shape;
        made.showsSnapshot = true;
        return made;
    }

    void writeSnapshot(const std::string& id, const QImage& picture) {
        store->write(id, jpeg(picture));
        storeQueue->runUntilIdle();
        mainQueue->runUntilIdle();
    }

    // Hands store changes to the portraits and lets their loads run, until nothing is left.
    void settle() {
        for (int round = 0; round < 4; ++round) {
            QCoreApplication::processEvents();
            loads->runUntilIdle();
        }
        QCoreApplication::processEvents();
    }

    PortraitLook load(const PortraitSources& made) const { return PortraitLook::load(made, *store); }

    QImage render(DevicePortrait& portrait, QSize size = {300, 156}) {
        portrait.resize(size);
        portrait.setContentsMargins(6, 0, 6, 6);
        return portrait.grab().toImage();
    }

    test::TemporaryFolder temporary;
    std::shared_ptr<ManualQueue> storeQueue = std::make_shared<ManualQueue>("velm.snapshots");
    std::shared_ptr<ManualQueue> mainQueue = std::make_shared<ManualQueue>("main");
    std::shared_ptr<SnapshotStore> store =
        SnapshotStore::make(temporary / "snapshots", storeQueue, mainQueue);
    std::shared_ptr<SnapshotWatch> watch = SnapshotWatch::make(store);
    std::shared_ptr<ManualQueue> loads = std::make_shared<ManualQueue>("loads");
};

TEST(PortraitAspect, ASnapshotSetsOnlyTheAspectOfAScreenStandingBesideItsComputer) {
    const QImage wide(1000, 300, QImage::Format_RGB32);
    const QImage tall(300, 1000, QImage::Format_RGB32);
    const QImage even(1600, 1000, QImage::Format_RGB32);
    EXPECT_DOUBLE_EQ(PortraitLook::screenAspect(std::nullopt, DeviceShape::macStudio, wide), 2.4);
    EXPECT_DOUBLE_EQ(PortraitLook::screenAspect(std::nullopt, DeviceShape::macStudio, tall), 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(PortraitLook::screenAspect(1.2, DeviceShape::display, even), 1.6);
    EXPECT_DOUBLE_EQ(PortraitLook::screenAspect(1.6, DeviceShape::macBook, wide), 1.6);
    EXPECT_DOUBLE_EQ(PortraitLook::screenAspect(std::nullopt, DeviceShape::iPad, wide), 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(PortraitLook::screenAspect(0, DeviceShape::iPhone, std::nullopt), 2.16);
    EXPECT_DOUBLE_EQ(PortraitLook::screenAspect(-1, DeviceShape::macBook, std::nullopt), 1.54);
    EXPECT_DOUBLE_EQ(PortraitLook::screenAspect(std::nan(""), DeviceShape::iMac, std::nullopt), 16.0 / 9.0);
}

TEST(LoneLayout, TheComputerStandsAloneInTheMiddleOrLeadingBesideItsSnapshot) {
    const QRectF container(0, 0, 160, 100);
    const auto alone = LoneLayout::of(container, DeviceShape::macMini, {100, 50}, std::nullopt);
    EXPECT_FALSE(alone.snapshot);
    EXPECT_DOUBLE_EQ(alone.computer.width(), 0.46 * 160);
    EXPECT_DOUBLE_EQ(alone.computer.center().x(), 80);
    EXPECT_DOUBLE_EQ(alone.computer.bottom(), 100);

    const auto beside = LoneLayout::of(container, DeviceShape::macMini, {100, 50}, QSizeF(1600, 1000));
    EXPECT_DOUBLE_EQ(beside.computer.width(), 0.36 * 160);
    EXPECT_DOUBLE_EQ(beside.computer.left(), 0);
    ASSERT_TRUE(beside.snapshot);
    EXPECT_DOUBLE_EQ(beside.snapshot->width(), 0.73 * 160);
    EXPECT_DOUBLE_EQ(beside.snapshot->right(), 160);
    EXPECT_DOUBLE_EQ(beside.snapshot->bottom(), 100 - 0.04 * 160);
    EXPECT_DOUBLE_EQ(beside.snapshotRadius, 3.2);

    EXPECT_DOUBLE_EQ(LoneLayout::computerShare(DeviceShape::macPro, true), 0.26);
    EXPECT_DOUBLE_EQ(LoneLayout::computerShare(DeviceShape::macStudio, false), 0.52);
}

TEST_F(PortraitTest, LoadingFillsTheScreenOfTheDevicesPictureWithItsSnapshotElseTheFill) {
    auto made = sources("ipad", DeviceShape::iPad);
    made.picture = giving(devicePicture({400, 300}, 20));
    made.screenFill = [](QSizeF size) {
        QImage fill(size.toSize(), QImage::Format_RGB32);
        fill.fill(Qt::red);
        return std::optional<QImage>(fill);
    };
    const auto filled = load(made);
    ASSERT_TRUE(filled.whole);
    EXPECT_FALSE(filled.snapshot);
    EXPECT_EQ(filled.whole->pixelColor(200, 150), QColor(Qt::red));

    writeSnapshot("ipad", desktop({360, 260}));
    const auto withSnapshot = load(made);
    ASSERT_TRUE(withSnapshot.snapshot);
    ASSERT_TRUE(withSnapshot.whole);
    EXPECT_NE(withSnapshot.whole->pixelColor(200, 150), QColor(Qt::red));

    made.showsSnapshot = false;
    made.screenFill = nullptr;
    const auto unchanged = load(made);
    EXPECT_FALSE(unchanged.snapshot) << "no snapshot is read unless asked for";
    ASSERT_TRUE(unchanged.whole);
    EXPECT_EQ(unchanged.whole->pixelColor(200, 150), QColor(10, 60, 200)) << "the picture's own screen";
}

TEST_F(PortraitTest, LoadingFallsBackToTheDrawnDeviceTheLoneComputerOrTheComposite) {
    auto made = sources("studio", DeviceShape::macStudio);
    EXPECT_FALSE(load(made).whole || load(made).lone) << "no picture";

    QImage clear(64, 64, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    made.picture = giving(clear);
    EXPECT_FALSE(load(made).whole || load(made).lone) << "a picture with nothing opaque";

    const QImage box = devicePicture({200, 80}, 0, false);
    made.picture = giving(box);
    made.shape = DeviceShape::macBook;
    EXPECT_FALSE(load(made).whole || load(made).lone) << "a laptop without a screen in its picture";

    made.shape = DeviceShape::macStudio;
    const auto lone = load(made);
    ASSERT_TRUE(lone.lone);
    EXPECT_FALSE(lone.whole);

    made.display = giving(devicePicture({500, 300}, 16));
    const auto composite = load(made);
    ASSERT_TRUE(composite.whole);
    EXPECT_FALSE(composite.lone);
    EXPECT_EQ(composite.whole->size(), QSize(500, static_cast<int>(0.045 * 500 + 300)));

    made.shape = DeviceShape::macPro;
    const auto tower = load(made);
    ASSERT_TRUE(tower.whole);
    EXPECT_EQ(tower.whole->width(), static_cast<int>(1.04 * 500 + 0.29 * 500));
    EXPECT_EQ(tower.whole->height(), 300);
}

TEST_F(PortraitTest, ASnapshotWrittenToTheStoreRedrawsOnlyThatDevicesPortrait) {
    DevicePortrait ipad(sources("ipad", DeviceShape::iPad), watch, loads);
    DevicePortrait phone(sources("phone", DeviceShape::iPhone), watch, loads);
    settle();
    ASSERT_TRUE(ipad.hasLoaded());
    ASSERT_TRUE(phone.hasLoaded());
    EXPECT_FALSE(ipad.look().snapshot);

    writeSnapshot("ipad", desktop({400, 300}));
    settle();
    EXPECT_EQ(ipad.shownRevision(), 1u);
    EXPECT_TRUE(ipad.look().snapshot);
    EXPECT_EQ(ipad.loadGeneration(), 2u);
    EXPECT_EQ(phone.loadGeneration(), 1u) << "another device's snapshot loads nothing";
    EXPECT_FALSE(phone.look().snapshot);
}

TEST_F(PortraitTest, IsDecorationThatScreenReadersPassOver) {
    DevicePortrait portrait(sources("ipad", DeviceShape::iPad), watch, loads);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&portrait);
    ASSERT_NE(accessible, nullptr);
    EXPECT_TRUE(accessible->state().invisible);
}

TEST_F(PortraitTest, AnEarlierLoadFinishingLastNeverReplacesTheLatest) {
    auto held = std::make_shared<HeldQueue>();
    DevicePortrait ipad(sources("ipad", DeviceShape::iPad), watch, held);
    writeSnapshot("ipad", desktop({400, 300}));
    ASSERT_TRUE(test::processEventsUntil([&] { return held->heldCount() == 2; }));

    held->runNewest();
    ASSERT_TRUE(test::processEventsUntil([&] { return ipad.hasLoaded(); }));
    EXPECT_EQ(ipad.shownRevision(), 1u);
    held->runOldest();
    settle();
    EXPECT_EQ(ipad.shownRevision(), 1u);
    EXPECT_TRUE(ipad.look().snapshot);
}

TEST_F(PortraitTest, APortraitGoneBeforeItsLoadFinishesIsLeftAlone) {
    auto held = std::make_shared<HeldQueue>();
    auto portrait = std::make_unique<DevicePortrait>(sources("ipad", DeviceShape::iPad), watch, held);
    portrait.reset();
    held->runOldest();
    writeSnapshot("ipad", desktop({400, 300}));
    settle();
    EXPECT_EQ(held->heldCount(), 0u);
}

TEST_F(PortraitTest, DrawsEveryShapeWithAndWithoutASnapshot) {
    writeSnapshot("with", desktop({1600, 1000}));
    for (const DeviceShape shape : test::allDeviceShapes) {
        for (const bool withSnapshot : {false, true}) {
            SCOPED_TRACE(test::deviceShapeName(shape) + (withSnapshot ? " with snapshot" : ""));
            DevicePortrait portrait(sources(withSnapshot ? "with" : "without", shape), watch, loads);
            settle();
            ASSERT_TRUE(portrait.hasLoaded());
            EXPECT_EQ(portrait.look().snapshot.has_value(), withSnapshot);
            const QImage image = render(portrait);
            test::writeScreenshot(image, "DevicePortrait-" + test::deviceShapeName(shape) +
                                             (withSnapshot ? "-snapshot" : ""));
            EXPECT_GT(image.pixelColor(150, 150).alpha(), 0) << "the device stands on the bottom edge";
        }
    }
}

TEST_F(PortraitTest, DrawsPicturesTheLoneComputerAndTheCompositeMutedWhenAsked) {
    writeSnapshot("mini", desktop({1600, 1000}));
    auto phone = sources("phone", DeviceShape::iPhone);
    phone.picture = giving(devicePicture({460, 220}, 12));
    phone.screenFill = [](QSizeF size) {
        QImage fill(size.toSize(), QImage::Format_RGB32);
        fill.fill(QColor(90, 200, 120));
        return std::optional<QImage>(fill);
    };
    auto mini = sources("mini", DeviceShape::macMini);
    mini.picture = giving(devicePicture({200, 70}, 0, false));
    auto studio = mini;
    studio.shape = DeviceShape::macStudio;
    studio.display = giving(devicePicture({500, 320}, 14));

    for (const auto& [name, made] : {std::pair{"whole", phone}, {"lone", mini}, {"composite", studio}}) {
        DevicePortrait portrait(made, watch, loads);
        settle();
        test::writeScreenshot(render(portrait), std::string("DevicePortrait-") + name);
        portrait.setSaturation(0);
        const QImage grey = render(portrait);
        test::writeScreenshot(grey, std::string("DevicePortrait-") + name + "-muted");
        for (int x = 0; x < grey.width(); x += 7) {
            const QColor c = grey.pixelColor(x, 120);
            if (c.alpha() < 64) {
                continue;
            }
            EXPECT_LE(std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}), 3);
        }
    }
}

} // namespace
} // namespace velm
