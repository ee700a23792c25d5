#include "Velm_Host/session/AnswerFit.h"

#include "platform/log/Log.h"
#include "protocol/ChannelFrame.h"

#include <algorithm>
#include <functional>

namespace velm {

namespace {

const Log answerFitLog("session");

std::size_t base64Length(std::size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

std::size_t encodedLength(const ControlMessage& message) {
    const auto json = message.jsonEncoded();
    return json ? json->size() : 0;
}

// Leaves out pictures, the largest first (of equal ones the later entry's), until the message that
// `make` builds fits a frame. A picture left out takes at least its Base64 text with it,
// so the message is measured once and then counted down: it ends up no longer than the count says.
void leaveOutUntilFits(std::vector<std::optional<Bytes>*> pictures,
                       const std::function<ControlMessage()>& make, const char* answer) {
    std::size_t length = encodedLength(make());
    if (length <= ChannelFrame::maxPayloadLength) {
        return;
    }
    std::erase_if(pictures, [](const std::optional<Bytes>* picture) { return !*picture; });
    std::stable_sort(pictures.begin(), pictures.end(),
                     [](const auto* left, const auto* right) { return (*left)->size() > (*right)->size(); });
    std::size_t leftOut = 0;
    for (auto* picture : pictures) {
        if (length <= ChannelFrame::maxPayloadLength) {
            break;
        }
        length -= std::min(length, base64Length((*picture)->size()));
        picture->reset();
        ++leftOut;
    }
    if (length > ChannelFrame::maxPayloadLength) {
        answerFitLog.error("%s: too long for one frame even without pictures", answer);
    } else {
        answerFitLog.warning("%s: left out the %zu largest of %zu pictures to fit one frame", answer, leftOut,
                             pictures.size());
    }
}

std::vector<std::optional<Bytes>*> iconsOf(std::vector<AppInfo>& apps) {
    std::vector<std::optional<Bytes>*> icons;
    icons.reserve(apps.size());
    // From the last entry back, so that the sort keeps a later entry's icon ahead of an equal earlier one.
    for (auto app = apps.rbegin(); app != apps.rend(); ++app) {
        icons.push_back(&app->iconPNG);
    }
    return icons;
}

} // namespace

ControlMessage AnswerFit::apps(std::vector<AppInfo> apps) {
    leaveOutUntilFits(
        iconsOf(apps), [&] { return ControlMessage::apps(apps); }, "running applications");
    return ControlMessage::apps(std::move(apps));
}

ControlMessage AnswerFit::installedApps(AppListPage page) {
    leaveOutUntilFits(
        iconsOf(page.apps), [&] { return ControlMessage::installedApps(page); }, "installed applications");
    return ControlMessage::installedApps(std::move(page));
}

ControlMessage AnswerFit::deviceImage(std::optional<Bytes> image, std::optional<Bytes> display) {
    leaveOutUntilFits(
        {&display, &image}, [&] { return ControlMessage::deviceImage(image, display); }, "device images");
    return ControlMessage::deviceImage(std::move(image), std::move(display));
}

} // namespace velm
