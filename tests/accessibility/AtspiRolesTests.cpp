#include "platform/accessibility/AtspiRoles.h"

#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(AtspiRoles, TextTakesItsKindFromItsStates) {
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_TEXT, true, false), "AXTextField");
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_TEXT, true, true), "AXTextArea");
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_TEXT, false, true), "AXStaticText");
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_ENTRY, false, false), "AXTextField");
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_PASSWORD_TEXT, false, false), "AXTextField");
}

TEST(AtspiRoles, OnlyAnEditableComboBoxTakesText) {
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_COMBO_BOX, true, false), "AXComboBox");
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_COMBO_BOX, false, false), "AXPopUpButton");
}

TEST(AtspiRoles, UnnamedRolesKeepTheirOwnNameAndStrangeOnesAreUnknown) {
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_CALENDAR, false, false), "calendar");
    EXPECT_EQ(AtspiRoles::name(-1, false, false), "AXUnknown");
    EXPECT_EQ(AtspiRoles::name(ATSPI_ROLE_LAST_DEFINED, false, false), "AXUnknown");
}

} // namespace
} // namespace velm
