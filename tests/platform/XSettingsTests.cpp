#include "platform/x11/XSettings.h"
#include "tests/support/XSettingsWriter.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::XSettingsWriter;

// A list as GNOME's manager publishes one: strings of every padding, a colour, integers among them.
Bytes desktopList(bool mostSignificantFirst) {
    return XSettingsWriter(mostSignificantFirst)
        .string("Net/ThemeName", "Adwaita")
        .colour("Gtk/Colour", {0xFFFF, 0, 0x8000, 0xFFFF})
        .integer("Net/DoubleClickTime", 250)
        .string("Gtk/FontName", "Cantarell 11")
        .integer("Xft/DPI", -1)
        .string("Net/IconThemeName", "")
        .bytes();
}

TEST(XSettingsTest, ReadsIntegersInEitherByteOrderSteppingOverTheRest) {
    for (const bool mostSignificantFirst : {false, true}) {
        const auto settings = XSettings::parse(desktopList(mostSignificantFirst));
        ASSERT_TRUE(settings) << "most significant first: " << mostSignificantFirst;
        EXPECT_EQ(settings->integer("Net/DoubleClickTime"), 250);
        EXPECT_EQ(settings->integer("Xft/DPI"), -1);
        EXPECT_EQ(settings->integer("Net/ThemeName"), std::nullopt) << "a string is no integer";
        EXPECT_EQ(settings->integer("Net/DoubleClick"), std::nullopt);
    }
}

TEST(XSettingsTest, TakesAnEmptyListTheFirstOfARepeatedNameAndIgnoresWhatFollowsTheList) {
    EXPECT_TRUE(XSettings::parse(XSettingsWriter().bytes()));

    Bytes list =
        XSettingsWriter().integer("Net/DoubleClickTime", 300).integer("Net/DoubleClickTime", 900).bytes();
    list.insert(list.end(), {1, 2, 3});
    EXPECT_EQ(XSettings::parse(list)->integer("Net/DoubleClickTime"), 300);
}

TEST(XSettingsTest, RefusesAnyListCutShort) {
    const Bytes whole = desktopList(false);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        EXPECT_FALSE(XSettings::parse(ByteView(whole).first(length))) << "cut to " << length << " bytes";
    }
}

TEST(XSettingsTest, RefusesMalformedLists) {
    const Bytes valid = XSettingsWriter().integer("Net/DoubleClickTime", 250).bytes();
    // Offsets in it: byte order 0, count 8, type 12, name length 14, name 16 (19 bytes and a pad byte),
    // change serial 36, value 40.
    const auto changed = [&](std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
        Bytes list = valid;
        std::copy(bytes.begin(), bytes.end(), list.begin() + static_cast<std::ptrdiff_t>(offset));
        return list;
    };
    const Bytes hugeString = [] {
        Bytes list = XSettingsWriter().string("Net/ThemeName", "Adwaita").bytes();
        // Its name takes 16 bytes with the padding, so the value's length lies at 36.
        std::fill(list.begin() + 36, list.begin() + 40, 0xFF);
        return list;
    }();
    const struct {
        Bytes list;
        const char* fault;
    } cases[] = {
        {changed(0, {2}), "an unknown byte order"},
        {changed(12, {3}), "a setting of an unknown type, whose length is unknown"},
        {changed(8, {2}), "more settings counted than written"},
        {changed(8, {0xFF, 0xFF, 0xFF, 0xFF}), "a count of four thousand million"},
        {changed(14, {21}), "a name running into the value"},
        {changed(14, {0xFF, 0xFF}), "a name longer than the list"},
        {hugeString, "a string longer than the list"},
    };
    for (const auto& [list, fault] : cases) {
        EXPECT_FALSE(XSettings::parse(list)) << fault;
    }
}

} // namespace
} // namespace velm
