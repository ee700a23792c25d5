#include "platform/desktop/GioApplicationCatalog.h"

#include "platform/core/Utf8.h"

#include <algorithm>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <memory>

namespace velm {
namespace {

struct AppInfoUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct ListFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};

std::string text(const char* value) {
    return value ? Utf8::repaired(value) : std::string();
}

std::string iconOf(GAppInfo* info) {
    GIcon* icon = g_app_info_get_icon(info);
    if (G_IS_THEMED_ICON(icon)) {
        const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
        return names && names[0] ? text(names[0]) : std::string();
    }
    if (G_IS_FILE_ICON(icon)) {
        const std::unique_ptr<char, decltype(&g_free)> path(
            g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))), g_free);
        return text(path.get());
    }
    return {};
}

// The Exec line's program as the shell would read it: GIO's own answer is the text up to the first
// space, quotes and all, which names no program when the path is quoted.
std::string programOf(GAppInfo* info) {
    const char* commandLine = g_app_info_get_commandline(info);
    gchar** arguments = nullptr;
    if (!commandLine || !g_shell_parse_argv(commandLine, nullptr, &arguments, nullptr)) {
        return text(g_app_info_get_executable(info));
    }
    const std::unique_ptr<gchar*, decltype(&g_strfreev)> owned(arguments, g_strfreev);
    return text(arguments[0]);
}

std::optional<DesktopApp> describe(GDesktopAppInfo* entry) {
    GAppInfo* info = G_APP_INFO(entry);
    DesktopApp app{text(g_app_info_get_id(info)), text(g_app_info_get_name(info)), iconOf(info),
                   programOf(info), text(g_desktop_app_info_get_startup_wm_class(entry))};
    const bool tooLong = std::max({app.id.size(), app.name.size(), app.icon.size(), app.executable.size(),
                                   app.windowClass.size()}) > GioApplicationCatalog::maxTextBytes;
    if (app.id.empty() || tooLong) {
        return std::nullopt;
    }
    return app;
}

} // namespace

std::vector<DesktopApp> GioApplicationCatalog::installed() {
    const std::unique_ptr<GList, ListFree> all(g_app_info_get_all());
    std::vector<DesktopApp> apps;
    for (GList* item = all.get(); item; item = item->next) {
        auto* info = static_cast<GAppInfo*>(item->data);
        if (!G_IS_DESKTOP_APP_INFO(info) || !g_app_info_should_show(info)) {
            continue;
        }
        if (auto app = describe(G_DESKTOP_APP_INFO(info))) {
            apps.push_back(std::move(*app));
        }
    }
    std::sort(apps.begin(), apps.end(), [](const DesktopApp& left, const DesktopApp& right) {
        return left.name != right.name ? left.name < right.name : left.id < right.id;
    });
    return apps;
}

std::optional<DesktopApp> GioApplicationCatalog::find(const std::string& id) {
    const std::unique_ptr<GDesktopAppInfo, AppInfoUnref> entry(g_desktop_app_info_new(id.c_str()));
    if (!entry) {
        return std::nullopt;
    }
    return describe(entry.get());
}

} // namespace velm
