#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// The desktop's notices: short messages with buttons the user may press. Everything is reported on the
// queue the implementation was made with.
class Notifications {
public:
    struct Action {
        // What comes back when the user presses it.
        std::string key;
        std::string title;
    };

    struct Notice {
        std::string title;
        std::string body;
        // Lets the desktop treat notices of one kind alike.
        std::string category;
        std::vector<Action> actions;
        // Left on screen until the user dismisses it, rather than until the desktop's own time-out.
        bool staysUntilDismissed = false;
    };

    // What the desktop offers.
    enum class Support {
        none,           // no notification server answers
        withoutActions, // notices are shown, but their buttons are not
        withActions,
    };

    struct Check {
        Support support = Support::none;
        // Why there is no server, when the bus said.
        std::optional<std::string> error;
    };

    // The notice's number while it is shown, or why it was not shown.
    using Shown = std::function<void(std::optional<std::uint32_t> id, std::string error)>;
    using ActionHandler = std::function<void(std::uint32_t id, std::string actionKey)>;
    using ClosedHandler = std::function<void(std::uint32_t id)>;

    virtual ~Notifications() = default;

    // The user pressed a button of a notice this object showed.
    virtual void setOnAction(ActionHandler handler) = 0;
    // A notice this object showed is gone: dismissed, expired or closed.
    virtual void setOnClosed(ClosedHandler handler) = 0;

    virtual void show(Notice notice, Shown shown) = 0;
    virtual void close(std::uint32_t id) = 0;
    // Asks whether a server is there and what it offers.
    virtual void checkSupport(std::function<void(Check)> answer) = 0;
};

} // namespace velm
