#include "platform/accessibility/AtspiRoles.h"

#include <array>
#include <atspi/atspi.h>
#include <utility>

namespace velm::AtspiRoles {
namespace {

// The whole table. Controls (what a tap may snap onto), then dead space (containers a tap may be
// moved out of freely), then content; text kinds and combo boxes depend on their states and are
// decided in name() below.
constexpr std::array<std::pair<AtspiRole, const char*>, 55> table{{
    // controls
    {ATSPI_ROLE_PUSH_BUTTON, "AXButton"},
    {ATSPI_ROLE_TOGGLE_BUTTON, "AXButton"},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXMenuButton"},
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox"},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton"},
    {ATSPI_ROLE_LINK, "AXLink"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_SLIDER, "AXSlider"},
    {ATSPI_ROLE_SPIN_BUTTON, "AXIncrementor"},
    {ATSPI_ROLE_PAGE_TAB, "AXTab"},
    {ATSPI_ROLE_PASSWORD_TEXT, "AXTextField"},
    // dead space
    {ATSPI_ROLE_FRAME, "AXWindow"},
    {ATSPI_ROLE_WINDOW, "AXWindow"},
    {ATSPI_ROLE_DIALOG, "AXWindow"},
    {ATSPI_ROLE_ALERT, "AXWindow"},
    {ATSPI_ROLE_INTERNAL_FRAME, "AXWindow"},
    {ATSPI_ROLE_PANEL, "AXGroup"},
    {ATSPI_ROLE_FILLER, "AXGroup"},
    {ATSPI_ROLE_GROUPING, "AXGroup"},
    {ATSPI_ROLE_SECTION, "AXGroup"},
    {ATSPI_ROLE_ROOT_PANE, "AXGroup"},
    {ATSPI_ROLE_LAYERED_PANE, "AXGroup"},
    {ATSPI_ROLE_GLASS_PANE, "AXGroup"},
    {ATSPI_ROLE_VIEWPORT, "AXGroup"},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea"},
    {ATSPI_ROLE_SPLIT_PANE, "AXSplitGroup"},
    {ATSPI_ROLE_TOOL_BAR, "AXToolbar"},
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup"},
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
    {ATSPI_ROLE_LIST, "AXList"},
    {ATSPI_ROLE_LIST_BOX, "AXList"},
    {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar"},
    {ATSPI_ROLE_UNKNOWN, "AXUnknown"},
    {ATSPI_ROLE_INVALID, "AXUnknown"},
    // content
    {ATSPI_ROLE_LABEL, "AXStaticText"},
    {ATSPI_ROLE_STATIC, "AXStaticText"},
    {ATSPI_ROLE_CAPTION, "AXStaticText"},
    {ATSPI_ROLE_PARAGRAPH, "AXStaticText"},
    {ATSPI_ROLE_IMAGE, "AXImage"},
    {ATSPI_ROLE_ICON, "AXImage"},
    {ATSPI_ROLE_HEADING, "AXHeading"},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea"},
    {ATSPI_ROLE_DOCUMENT_FRAME, "AXWebArea"},
    {ATSPI_ROLE_TABLE, "AXTable"},
    {ATSPI_ROLE_TABLE_CELL, "AXCell"},
    {ATSPI_ROLE_TREE, "AXOutline"},
    {ATSPI_ROLE_TREE_TABLE, "AXOutline"},
    {ATSPI_ROLE_LIST_ITEM, "AXRow"},
    {ATSPI_ROLE_TREE_ITEM, "AXRow"},
    {ATSPI_ROLE_MENU, "AXMenu"},
    {ATSPI_ROLE_PROGRESS_BAR, "AXProgressIndicator"},
}};

bool isTextRole(AtspiRole role) {
    return role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_EDITBAR;
}

std::string atspiName(AtspiRole role) {
    gchar* name = atspi_role_get_name(role);
    if (!name) {
        return "AXUnknown";
    }
    std::string result(name);
    g_free(name);
    return result;
}

} // namespace

std::string name(int role, bool isEditable, bool isMultiLine) {
    if (role < 0 || role >= ATSPI_ROLE_LAST_DEFINED) {
        return "AXUnknown";
    }
    const auto atspiRole = static_cast<AtspiRole>(role);
    // An entry is a text field even when it does not say it is editable; a plain text is one only
    // when it is. Either becomes an area once it spans several lines.
    if (isTextRole(atspiRole) && (isEditable || atspiRole == ATSPI_ROLE_ENTRY)) {
        return isMultiLine ? "AXTextArea" : "AXTextField";
    }
    if (atspiRole == ATSPI_ROLE_TEXT) {
        return "AXStaticText";
    }
    // A combo box takes typing only when it is editable; otherwise it is a pop-up list of choices.
    if (atspiRole == ATSPI_ROLE_COMBO_BOX) {
        return isEditable ? "AXComboBox" : "AXPopUpButton";
    }
    for (const auto& [entry, axName] : table) {
        if (entry == atspiRole) {
            return axName;
        }
    }
    return atspiName(atspiRole);
}

} // namespace velm::AtspiRoles
