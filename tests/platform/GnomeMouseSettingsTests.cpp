#include "platform/desktop/GnomeMouseSettings.h"
#include "tests/support/GnomeMouseSchema.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::GnomeMouseSchema;

TEST(GnomeMouseSettingsTest, ReadsTheDoubleClickTimeTheUserSet) {
    std::string reason;
    ASSERT_TRUE(GnomeMouseSchema::install(reason)) << reason;
    EXPECT_EQ(GnomeMouseSettings::doubleClickMilliseconds(), 400) << "the schema's default";

    GnomeMouseSchema::setDoubleClick(250);
    EXPECT_EQ(GnomeMouseSettings::doubleClickMilliseconds(), 250);
}

// GSettings would end the process on this and the next.
TEST(GnomeMouseSettingsTest, AMissingSchemaGivesNothing) {
    std::string reason;
    ASSERT_TRUE(GnomeMouseSchema::hide(reason)) << reason;
    EXPECT_EQ(GnomeMouseSettings::doubleClickMilliseconds(), std::nullopt);
}

TEST(GnomeMouseSettingsTest, AKeyOfAnotherTypeGivesNothing) {
    std::string reason;
    ASSERT_TRUE(GnomeMouseSchema::install(reason, "s")) << reason;
    EXPECT_EQ(GnomeMouseSettings::doubleClickMilliseconds(), std::nullopt);
}

// A relocatable schema of that name, which GSettings would end the process on too.
TEST(GnomeMouseSettingsTest, ASchemaWithoutAPathGivesNothing) {
    std::string reason;
    ASSERT_TRUE(GnomeMouseSchema::installWithoutPath(reason)) << reason;
    EXPECT_EQ(GnomeMouseSettings::doubleClickMilliseconds(), std::nullopt);
}

} // namespace
} // namespace velm
