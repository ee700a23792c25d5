#include "Velm_Host/core/VirtualDisplayIdentity.h"
#include "Velm_Host/ui/DeviceIcons.h"
#include "platform/image/ThemeIcon.h"
#include "tests/support/Screenshots.h"
#include "tests/support/TemporaryFolder.h"

#include <QIcon>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace velm {
namespace {

constexpr std::uint32_t someMaker = 0x10AC;

TEST(MacDisplayType, TakesTheFirstScreenThatTellsItsMaker) {
    const std::vector<AttachedScreen> other{{std::nullopt, "XDR"}, {someMaker, "U2720Q"}};
    EXPECT_EQ(macDisplayType(other, DeviceShape::macMini), "com.apple.studio-display");
    const std::vector<AttachedScreen> xdr{{someMaker, "Pro Display XDR"}};
    EXPECT_EQ(macDisplayType(xdr, DeviceShape::macStudio), "com.apple.pro-display-xdr");
    EXPECT_EQ(macDisplayType(other, DeviceShape::macPro), "com.apple.pro-display-xdr") << "whatever its name";
}

TEST(MacDisplayType, PassesOverTheHostsOwnVirtualDisplay) {
    const std::vector<AttachedScreen> virtualOnly{{VirtualDisplayIdentity::vendor, "Velm"}};
    EXPECT_FALSE(macDisplayType(virtualOnly, DeviceShape::macStudio));
    EXPECT_FALSE(macDisplayType({}, DeviceShape::macStudio));
    EXPECT_FALSE(hostDisplayIconPNG(virtualOnly, DeviceModel{"Mac14,13", "Mac Studio"}));
}

// An icon theme of its own, so the machine's themes play no part.
class ThemeIcons : public testing::Test {
protected:
    void SetUp() override {
        savedPaths_ = QIcon::themeSearchPaths();
        savedName_ = QIcon::themeName();
        test::TemporaryFolder::writeFile(folder_ / "index.theme",
                                         "[Icon Theme]\nName=Test\nDirectories=devices\n\n"
                                         "[devices]\nSize=256\nType=Fixed\n");
        std::filesystem::create_directories(folder_ / "devices");
        QIcon::setThemeSearchPaths({QString::fromStdString(folder_.path().parent_path().string())});
        QIcon::setThemeName(QString::fromStdString(folder_.path().filename().string()));
    }
    void TearDown() override {
        QIcon::setThemeSearchPaths(savedPaths_);
        QIcon::setThemeName(savedName_);
    }

    void addIcon(const std::string& name, QColor colour) {
        QImage image(256, 256, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(QString::fromStdString((folder_ / "devices" / (name + ".png")).string())));
    }

    static QImage decoded(const std::optional<Bytes>& png) {
        EXPECT_TRUE(png);
        return png ? QImage::fromData(png->data(), static_cast<int>(png->size()), "PNG") : QImage();
    }

    test::TemporaryFolder folder_;
    QStringList savedPaths_;
    QString savedName_;
};

TEST_F(ThemeIcons, FindsADevicesPictureByItsModelCodeFromBackgroundWork) {
    addIcon("MacBookPro18,1", Qt::blue);
    std::optional<QImage> icon;
    std::optional<QImage> unknown;
    std::thread([&] {
        icon = deviceIconImage("MacBookPro18,1");
        unknown = deviceIconImage("Unknown1,1");
    }).join();
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->pixelColor(10, 10), QColor(Qt::blue));
    EXPECT_FALSE(unknown);
}

TEST_F(ThemeIcons, DevicePicturesAndApplicationIconsAreLookedUpTogether) {
    // Device cards load their pictures in background work while the session's application list
    // draws icons on the GUI thread, through the same icon loader.
    addIcon("MacBookPro18,1", Qt::blue);
    addIcon("velm-editor", Qt::red);
    constexpr int rounds = 40;
    int devicePictures = 0;
    std::thread background([&] {
        for (int round = 0; round < rounds; ++round) {
            const auto icon = deviceIconImage("MacBookPro18,1");
            devicePictures += icon && icon->pixelColor(10, 10) == QColor(Qt::blue) ? 1 : 0;
        }
    });
    int applicationIcons = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto png = ThemeIcon::png("velm-editor", 32 + round);
        applicationIcons += png && decoded(png).pixelColor(16, 16) == QColor(Qt::red) ? 1 : 0;
    }
    background.join();
    EXPECT_EQ(devicePictures, rounds);
    EXPECT_EQ(applicationIcons, rounds);
}

TEST_F(ThemeIcons, RefusesNamesThatCouldLeaveTheIconFolders) {
    addIcon("secret", Qt::red);
    for (const char* name : {"../devices/secret", "devices/secret", ".secret", "", "se cret", "secret\n"}) {
        EXPECT_FALSE(deviceIconImage(name)) << name;
    }
    EXPECT_FALSE(deviceIconImage(std::string(129, 'a')));
}

TEST_F(ThemeIcons, HostPictureFallsBackToTheComputerIconThenToADrawing) {
    const DeviceModel mini{"Macmini9,1", "Mac mini"};
    const QImage drawn = decoded(hostIconPNG(mini));
    test::writeScreenshot(drawn, "HostIcon-drawn-macMini");
    EXPECT_EQ(drawn.width(), 1024);
    EXPECT_GT(drawn.height(), 600);
    EXPECT_EQ(drawn.pixelColor(0, 0).alpha(), 0) << "a drawing on a clear background";

    addIcon("computer", Qt::green);
    EXPECT_EQ(decoded(hostIconPNG(mini)).pixelColor(10, 10), QColor(Qt::green));
    addIcon("Macmini9,1", Qt::blue);
    EXPECT_EQ(decoded(hostIconPNG(mini)).pixelColor(10, 10), QColor(Qt::blue));
}

TEST_F(ThemeIcons, DisplayPictureOnlyForAComputerWithoutAScreen) {
    const std::vector<AttachedScreen> screens{{someMaker, "Studio Display"}};
    EXPECT_FALSE(hostDisplayIconPNG(screens, DeviceModel{"MacBookPro18,1", "MacBook Pro"}));

    const DeviceModel studio{"Mac14,13", "Mac Studio"};
    const QImage drawn = decoded(hostDisplayIconPNG(screens, studio));
    test::writeScreenshot(drawn, "HostDisplayIcon-drawn");
    EXPECT_EQ(drawn.width(), 1024);

    addIcon("com.apple.studio-display", Qt::yellow);
    EXPECT_EQ(decoded(hostDisplayIconPNG(screens, studio)).pixelColor(10, 10), QColor(Qt::yellow));
}

} // namespace
} // namespace velm
