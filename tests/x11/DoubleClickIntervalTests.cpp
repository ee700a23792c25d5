#include "platform/x11/DoubleClickInterval.h"
#include "tests/support/GnomeMouseSchema.h"
#include "tests/support/X11DesktopTest.h"
#include "tests/support/X11SettingsManager.h"
#include "tests/support/XSettingsWriter.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::GnomeMouseSchema;
using test::XSettingsWriter;

Bytes doubleClickTime(std::int32_t milliseconds) {
    return XSettingsWriter()
        .string("Net/ThemeName", "Adwaita")
        .integer("Net/DoubleClickTime", milliseconds)
        .bytes();
}

Bytes cutShort(Bytes settings) {
    settings.pop_back();
    return settings;
}

// The desktop's settings as GNOME keeps them and as a settings manager publishes them on the sandbox's
// X server. The sandbox runs no manager of its own.
class DoubleClickIntervalTest : public test::X11DesktopTest {
protected:
    void startManager(const Bytes& settings) {
        std::string reason;
        manager = test::X11SettingsManager::start(reason);
        ASSERT_TRUE(manager) << reason;
        manager->publish(settings);
    }

    std::unique_ptr<test::X11SettingsManager> manager;
};

TEST_F(DoubleClickIntervalTest, GnomesSettingComesFirst) {
    std::string reason;
    ASSERT_TRUE(GnomeMouseSchema::install(reason)) << reason;
    GnomeMouseSchema::setDoubleClick(250);
    startManager(doubleClickTime(320));

    EXPECT_DOUBLE_EQ(DoubleClickInterval::ofDesktop(), 0.25);
}

TEST_F(DoubleClickIntervalTest, WithoutGnomesSchemaTheSettingsManagersCounts) {
    std::string reason;
    ASSERT_TRUE(GnomeMouseSchema::hide(reason)) << reason;
    startManager(doubleClickTime(320));

    EXPECT_DOUBLE_EQ(DoubleClickInterval::ofDesktop(), 0.32);
}

TEST_F(DoubleClickIntervalTest, WithoutAUsableValueXsDefaultHolds) {
    std::string reason;
    ASSERT_TRUE(GnomeMouseSchema::hide(reason)) << reason;
    EXPECT_DOUBLE_EQ(DoubleClickInterval::ofDesktop(), 0.4) << "no settings manager";

    const struct {
        Bytes settings;
        const char* what;
    } published[] = {
        {{}, "an empty property"},
        {XSettingsWriter().string("Net/ThemeName", "Adwaita").bytes(), "no double-click time"},
        {doubleClickTime(0), "a time of nothing"},
        {doubleClickTime(-250), "a negative time"},
        {doubleClickTime(3'600'000), "an hour"},
        {cutShort(doubleClickTime(250)), "a list cut short"},
    };
    startManager({});
    for (const auto& [settings, what] : published) {
        manager->publish(settings);
        EXPECT_DOUBLE_EQ(DoubleClickInterval::ofDesktop(), 0.4) << what;
    }
}

TEST_F(DoubleClickIntervalTest, AGnomeValueOutOfRangeLeavesItToTheSettingsManager) {
    std::string reason;
    ASSERT_TRUE(GnomeMouseSchema::install(reason)) << reason;
    GnomeMouseSchema::setDoubleClick(0);
    startManager(doubleClickTime(320));

    EXPECT_DOUBLE_EQ(DoubleClickInterval::ofDesktop(), 0.32);
}

} // namespace
} // namespace velm
