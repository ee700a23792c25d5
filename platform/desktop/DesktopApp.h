#pragma once

#include <string>

namespace velm {

// An application installed on the computer, from its desktop entry.
struct DesktopApp {
    // The desktop file id ("org.gnome.TextEditor.desktop").
    std::string id;
    // Its Name in the user's language.
    std::string name;
    // A theme icon name or an absolute file path; empty when the entry names none.
    std::string icon;
    // The program its Exec line starts, as written there (a name or a path); empty when unknown.
    std::string executable;
    // StartupWMClass: the WM_CLASS its windows carry; empty when the entry does not say.
    std::string windowClass;

    friend bool operator==(const DesktopApp&, const DesktopApp&) = default;
};

} // namespace velm
