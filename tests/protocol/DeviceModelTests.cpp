#include "platform/core/Utf8.h"
#include "platform/discovery/TxtRecord.h"
#include "protocol/DeviceModel.h"
#include "protocol/DeviceShape.h"
#include "protocol/json/Json.h"
#include "transport/channel/VelmService.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

std::optional<std::string> name(const char* text) {
    return std::string(text);
}

// The form without a name is checked with the host's hello.
TEST(DeviceModelJson, WritesTheNameAfterTheIdentifier) {
    EXPECT_EQ(toString(Json::encode(DeviceModel{"Mac14,3", name("Mac mini")})),
              R"({"identifier":"Mac14,3","name":"Mac mini"})");
}

TEST(DeviceModelDisplayName, FallsBackFromNameToTableToPrefix) {
    EXPECT_EQ((DeviceModel{"iPad13,4", name("Ada's tablet")}).displayName(), "Ada's tablet");
    EXPECT_EQ((DeviceModel{"iPad13,4", name("")}).displayName(), "iPad Pro 11-inch (3rd generation)");
    EXPECT_EQ((DeviceModel{"iPad99,1", std::nullopt}).displayName(), "iPad");
    EXPECT_EQ((DeviceModel{"iPhone16,2", std::nullopt}).displayName(), "iPhone");
    EXPECT_EQ((DeviceModel{"iPod9,1", std::nullopt}).displayName(), "Mac");
}

TEST(DeviceShapeClassification, FollowsTheRulesInOrder) {
    struct Case {
        const char* identifier;
        std::optional<std::string> name;
        DeviceShape shape;
    };
    const Case cases[] = {
        {"Mac", name("iMac Pro"), DeviceShape::iMac},
        {"Mac", name("MacBook Pro"), DeviceShape::macBook},
        {"MacBookAir10,1", std::nullopt, DeviceShape::macBook},
        {"iMac21,1", std::nullopt, DeviceShape::iMac},
        {"Mac14,3", std::nullopt, DeviceShape::display},
        {"Mac14,3", name("Mac mini (2023)"), DeviceShape::macMini},
        {"Mac13,1", name("Mac Studio"), DeviceShape::macStudio},
        {"MacPro7,1", std::nullopt, DeviceShape::macPro},
        {"Mac14,8", name("Mac Pro"), DeviceShape::macPro},
        {"iPhone16,2", std::nullopt, DeviceShape::iPhone},
        {"iPod9,1", std::nullopt, DeviceShape::iPhone},
        {"iPad7,5", std::nullopt, DeviceShape::iPadHomeButton},
        {"iPad13,18", std::nullopt, DeviceShape::iPad},
        {"iPad13,4", std::nullopt, DeviceShape::iPadPro},
        {"iPad99,1", std::nullopt, DeviceShape::iPad},
        {"iPad", std::nullopt, DeviceShape::iPad},
        {"iPad07,1", std::nullopt, DeviceShape::iPadHomeButton},
        {"iPad\xD9\xA3,1", std::nullopt, DeviceShape::iPad}, // an Arabic-Indic three is no decimal integer
        {"iPad99999999999999999999,1", std::nullopt, DeviceShape::iPad},
        {"macbook", std::nullopt, DeviceShape::display}, // the tests are case-sensitive
        {"20XW0026GE", name("ThinkPad X1 Carbon Gen 9"), DeviceShape::display},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rawValue(deviceShape(c.identifier, c.name)), rawValue(c.shape)) << c.identifier;
    }
}

TEST(DeviceModelFromFirmware, ReadsTheDmiNamesThenTheDeviceTreeElseFallsBackToMac) {
    EXPECT_EQ(DeviceModel::fromFirmware({.productName = "MacBookPro15,1\n",
                                         .productFamily = "MacBook Pro\n",
                                         .deviceTreeModel = std::string("Other\0", 6)}),
              (DeviceModel{"MacBookPro15,1", name("MacBook Pro")}));
    EXPECT_EQ(DeviceModel::fromFirmware({.productName = " \n",
                                         .productFamily = std::nullopt,
                                         .deviceTreeModel = std::string("Raspberry Pi 4 Model B\0junk", 27)}),
              (DeviceModel{"Raspberry Pi 4 Model B", name("Raspberry Pi 4 Model B")}));
    EXPECT_EQ(
        DeviceModel::fromFirmware(
            {.productName = "Board\xFF", .productFamily = std::nullopt, .deviceTreeModel = std::nullopt})
            .identifier,
        "Board\xEF\xBF\xBD"); // not UTF-8: repaired
    EXPECT_EQ(DeviceModel::fromFirmware({}), (DeviceModel{"Mac", std::nullopt}));

    const DeviceModel familyOnly = DeviceModel::fromFirmware(
        {.productName = std::nullopt, .productFamily = "Mac Studio", .deviceTreeModel = std::nullopt});
    EXPECT_EQ(familyOnly.identifier, "Mac");
    EXPECT_EQ(deviceShape(familyOnly.identifier, familyOnly.name), DeviceShape::macStudio);

    // The current model is read once, from this machine, and never empty.
    const DeviceModel& first = DeviceModel::current();
    EXPECT_EQ(&first, &DeviceModel::current());
    EXPECT_FALSE(first.identifier.empty());
    EXPECT_TRUE(Json::tryEncode(first).has_value());
}

TEST(DeviceModelFromFirmware, KeepsLongOrJunkTextsShortEnoughToAdvertise) {
    // The host advertises its model in its Bonjour record, whose entries hold 255 bytes at most;
    // a firmware file of junk (each byte repaired to three) must not keep the host off the network.
    const std::string junk = "Board " + std::string(MachineFirmware::fileLimit - 6, '\xFF');
    const DeviceModel model =
        DeviceModel::fromFirmware({.productName = junk,
                                   .productFamily = std::string(MachineFirmware::fileLimit, 'F'),
                                   .deviceTreeModel = {}});
    EXPECT_TRUE(model.identifier.starts_with("Board \xEF\xBF\xBD"));
    EXPECT_TRUE(Utf8::isValid(model.identifier));
    ASSERT_TRUE(model.name);
    EXPECT_TRUE(model.name->starts_with("FFF"));

    TxtRecord txt;
    txt.add(std::string(VelmService::modelKey), model.identifier);
    txt.add(std::string(VelmService::modelNameKey), *model.name);
    EXPECT_TRUE(txt.isPublishable());
}

} // namespace
} // namespace velm
