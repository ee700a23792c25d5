#pragma once

#include "tests/support/TemporaryFolder.h"

#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velm::test {

// One XDG data folder for the whole process, made before GIO and Qt first look (they read the
// folders once): applications to show, to hide in three ways, and an icon in the fallback theme.
// "velm-editor.desktop" runs a script that writes "started.txt" into the folder and quits;
// "velm-waiter.desktop" (hidden from menus) runs one that quits once "release" is in the folder;
// "velm-quoted.desktop" (hidden too) names this test program in quotes; "velm-session.desktop" (hidden)
// copies its /proc/PID/stat, which tells its process group and session, into "session.txt".
class DesktopEntries {
public:
    static constexpr const char* iconSvg =
        R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16">)"
        R"(<rect x="0" y="0" width="16" height="16" rx="3" fill="#1e90ff"/>)"
        R"(<circle cx="8" cy="8" r="4" fill="#ffffff"/></svg>)";

    static DesktopEntries& shared() {
        static DesktopEntries entries;
        return entries;
    }

    // The process's application object for drawing icons, on the offscreen platform.
    static QGuiApplication& guiApplication() {
        shared();
        static int argc = 1;
        static char name[] = "velm_tests";
        static char* argv[] = {name, nullptr};
        static QGuiApplication application(argc, argv);
        return application;
    }

    const std::filesystem::path& path() const { return folder.path(); }
    std::filesystem::path started() const { return folder / "started.txt"; }
    std::filesystem::path release() const { return folder / "release"; }
    std::filesystem::path session() const { return folder / "session.txt"; }

private:
    DesktopEntries() {
        const auto data = folder.path();
        std::filesystem::create_directories(data / "applications");
        std::filesystem::create_directories(data / "icons/hicolor/scalable/apps");
        TemporaryFolder::writeFile(data / "icons/hicolor/scalable/apps/velm-test-icon.svg", iconSvg);
        TemporaryFolder::writeFile(data / "logo.svg", iconSvg);
        TemporaryFolder::writeFile(data / "icons/hicolor/index.theme",
                                   "[Icon Theme]\nName=Hicolor\nDirectories=scalable/apps\n\n"
                                   "[scalable/apps]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
        TemporaryFolder::writeFile(data / "start.sh",
                                   "#!/bin/sh\necho \"started $#\" > '" + started().string() + "'\n");
        // It also quits once the folder is gone, so a test that fails before the release leaves nothing
        // running.
        TemporaryFolder::writeFile(data / "wait.sh", "#!/bin/sh\nwhile [ ! -e '" + release().string() +
                                                         "' ] && [ -d '" + data.string() +
                                                         "' ]; do sleep 0.1; done\n");
        TemporaryFolder::writeFile(data / "session.sh",
                                   "#!/bin/sh\ncat /proc/$$/stat > '" + session().string() + "'\n");
        for (const char* script : {"start.sh", "wait.sh", "session.sh"}) {
            std::filesystem::permissions(data / script, std::filesystem::perms::owner_all);
        }
        entry("velm-editor", "Name=Velm Editor\nName[de]=Velm Bearbeiter\nIcon=velm-test-icon\nExec=" +
                                 (data / "start.sh").string() + " %f\nStartupWMClass=VelmEditor\n");
        entry("velm-tests", "Name=Velm Tests\nIcon=" + (data / "logo.svg").string() +
                                "\nExec=" + std::filesystem::read_symlink("/proc/self/exe").string() + "\n");
        // A quoted program, as paths with spaces need.
        entry("velm-quoted", "Name=Velm Quoted\nExec=\"" +
                                 std::filesystem::read_symlink("/proc/self/exe").string() +
                                 "\" --quiet %U\nNoDisplay=true\n");
        entry("velm-waiter", "Name=Velm Waiter\nExec=" + (data / "wait.sh").string() + "\nNoDisplay=true\n");
        entry("velm-session",
              "Name=Velm Session\nExec=" + (data / "session.sh").string() + "\nNoDisplay=true\n");
        entry("velm-menu-only", "Name=Not In Menus\nExec=true\nNoDisplay=true\n");
        entry("velm-removed", "Name=Removed\nExec=true\nHidden=true\n");
        entry("velm-kde", "Name=KDE Only\nExec=true\nOnlyShowIn=KDE;\n");
        setenv("XDG_DATA_DIRS", data.c_str(), 1);
        setenv("XDG_DATA_HOME", (data / "home").c_str(), 1);
        setenv("LANGUAGE", "de", 1);
        unsetenv("XDG_CURRENT_DESKTOP");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    void entry(const std::string& id, const std::string& fields) const {
        TemporaryFolder::writeFile(folder / "applications" / (id + ".desktop"),
                                   "[Desktop Entry]\nType=Application\n" + fields);
    }

    TemporaryFolder folder;
};

} // namespace velm::test
