#pragma once

#include "platform/core/Bytes.h"
#include "protocol/AppInfo.h"
#include "protocol/AppListPage.h"
#include "protocol/ControlMessage.h"

#include <optional>
#include <vector>

namespace velm {

// An answer that carries pictures travels as one control frame, whose payload the client takes only up
// to ChannelFrame::maxPayloadLength bytes; a larger one would not be sent at all and leave the client
// waiting for its answer. These build the answer with pictures left out, the largest first, until it
// fits: the client still hears of every entry, some without their icon. What had to go is logged.
class AnswerFit {
public:
    AnswerFit() = delete;

    static ControlMessage apps(std::vector<AppInfo> apps);
    static ControlMessage installedApps(AppListPage page);
    static ControlMessage deviceImage(std::optional<Bytes> image, std::optional<Bytes> display);
};

} // namespace velm
