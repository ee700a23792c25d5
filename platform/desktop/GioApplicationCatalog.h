#pragma once

#include "platform/desktop/ApplicationCatalog.h"

namespace velm {

// Desktop entries of the XDG data folders through GIO's GDesktopAppInfo, which follows the
// freedesktop.org desktop-entry rules: localised names, NoDisplay, Hidden, OnlyShowIn and NotShowIn for
// the current desktop ($XDG_CURRENT_DESKTOP). Safe from any thread.
class GioApplicationCatalog final : public ApplicationCatalog {
public:
    // Entries whose texts are longer than this are passed over: they come from any file there.
    static constexpr std::size_t maxTextBytes = 4096;

    std::vector<DesktopApp> installed() override;
    std::optional<DesktopApp> find(const std::string& id) override;
};

} // namespace velm
