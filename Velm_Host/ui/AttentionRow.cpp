#include "Velm_Host/ui/AttentionRow.h"

namespace velm {
namespace {

bool isFalse(const std::optional<bool>& flag) {
    return flag.has_value() && !*flag;
}

std::string localNetworkDetail(const HostListener::State& state) {
    if (state.kind() == HostListener::State::Kind::failed) {
        return state.message();
    }
    return "Lets devices find this computer.";
}

} // namespace

std::vector<AttentionRow> AttentionRow::rowsFor(const HostStatus& status) {
    std::vector<AttentionRow> rows;
    if (!status.screenRecordingGranted) {
        rows.push_back({Item::screenRecording, "Screen Recording",
                        "Devices see a test pattern until it's on.", "Grant…"});
    }
    if (!status.accessibilityGranted) {
        rows.push_back(
            {Item::accessibility, "Accessibility", "Lets devices use the pointer and keyboard.", "Grant…"});
    }
    if (status.allowRemoteAccess && status.listenerState.kind() != HostListener::State::Kind::advertising) {
        rows.push_back(
            {Item::localNetwork, "Local Network", localNetworkDetail(status.listenerState), "Grant…"});
    }
    const RestartState& restart = status.restartReadiness;
    if (!restart.opensAtLogin) {
        rows.push_back(
            {Item::openAtLogin, "Open at login", "So Velm Host is back after a restart.", "Turn On"});
    }
    if (isFalse(restart.logsInAutomatically)) {
        rows.push_back({Item::automaticLogin, "Log in automatically",
                        "Otherwise a restart stops at the login window.", "Settings…"});
    }
    if (isFalse(restart.startsAfterPowerFailure)) {
        rows.push_back({Item::powerFailure, "Start after a power cut",
                        "So the computer comes back when the power does.", "Settings…"});
    }
    if (status.allowAwayAccess && !status.noticesAllowed) {
        rows.push_back(
            {Item::notifications, "Notifications", "To hear when a device connects from away.", "Settings…"});
    }
    return rows;
}

std::optional<SettingsPane> AttentionRow::settingsPane() const {
    switch (item) {
    case Item::automaticLogin:
        return SettingsPane::automaticLogin;
    case Item::powerFailure:
        return SettingsPane::power;
    case Item::notifications:
        return SettingsPane::notifications;
    case Item::screenRecording:
    case Item::accessibility:
    case Item::localNetwork:
    case Item::openAtLogin:
        break;
    }
    return std::nullopt;
}

} // namespace velm
