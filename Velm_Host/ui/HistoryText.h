#pragma once

#include "Velm_Host/ui/HistoryDates.h"
#include "Velm_Host/ui/RowIcon.h"
#include "protocol/ConnectionRecord.h"

#include <string>
#include <string_view>

namespace velm {

// How a history record reads: its symbol, a title naming the device, and a caption of facts joined
// by " · ".
struct HistoryText {
    static RowIcon icon(const ConnectionRecord& record);
    // The device's name, then ": a file" or ": turned away" for those kinds.
    static std::string title(const ConnectionRecord& record);
    // When it started, the route, then for a refusal its reason and nothing more; otherwise
    // "connected now" or the length and the ending, and "not forward secret" when so.
    static std::string caption(const ConnectionRecord& record, const HistoryDates& dates);
    // "at home", "from away" or "by VPN or address", with the peer's address in parentheses.
    static std::string routeText(const ConnectionRecord& record);
    // "1 min" below two minutes, "59 min", "2 h 5 min": whole minutes, the rest dropped.
    static std::string minutesText(double seconds);
    static std::string_view endingText(ConnectionRecord::Ending ending);
    static std::string_view refusalText(ConnectionRecord::Refusal refusal);
};

} // namespace velm
