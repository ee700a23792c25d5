#pragma once

#include "Velm_Host/core/ConnectionHistory.h"
#include "Velm_Host/session/SessionCurtain.h"
#include "Velm_Host/session/SessionDesktop.h"
#include "platform/store/XdgDirs.h"
#include "protocol/ConnectionRecord.h"
#include "protocol/DeviceModel.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm {

class DeviceRegistry;
class InputSink;
class TextFocusWatch;

// What a host session works with (HostSession::Context). Its own parts of the desktop are made on its
// queue only when it needs them: the desktop once a client is admitted to a request or session that
// shows it, the text focus once a main session is admitted, the input sink at the first stream. A
// connection that never gets in thus costs no X connection. The curtain comes with the session.
struct SessionContext {
    // Given the session's video port, forwards it on the router for a session from away and completes
    // with the external port, or nothing.
    using ForwardVideoPort =
        std::function<void(std::uint16_t port, std::function<void(std::optional<std::uint16_t>)> completion)>;
    using RouteFinder =
        std::function<ConnectionRecord::Route(bool throughDoor, const std::optional<std::string>& peer,
                                              const std::vector<std::string>& interfaces)>;

    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<ConnectionHistory> history;
    std::function<std::shared_ptr<SessionDesktop>()> makeDesktop;
    std::function<std::shared_ptr<InputSink>()> makeInput;
    // None, or one that gives none: the client is never told where text goes.
    std::function<std::shared_ptr<TextFocusWatch>()> makeTextFocus;
    // None: a host without a curtain.
    std::shared_ptr<SessionCurtain> curtain;

    // How the host's hello presents this computer.
    std::string hostName;
    std::optional<DeviceModel> hostModel;
    std::optional<bool> hasDisplay;
    // Where away access says the host is reached from outside, when it knows.
    std::optional<std::string> awayAddress;
    // Set only for a session that came through the door.
    ForwardVideoPort forwardVideoPort;

    std::filesystem::path downloadFolder = XdgDirs::home() / "Downloads";
    // Home, door or elsewhere; HomeNetwork's judgement unless a test says otherwise.
    RouteFinder route;
};

} // namespace velm
