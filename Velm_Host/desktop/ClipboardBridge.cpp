#include "Velm_Host/desktop/ClipboardBridge.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <array>

namespace velm {
namespace {

const Log clipboardBridgeLog("clipboard");

constexpr std::array<std::uint8_t, 8> pngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool isPng(const Bytes& data) {
    return data.size() > pngSignature.size() &&
           std::equal(pngSignature.begin(), pngSignature.end(), data.begin());
}

// What the client is sent for a local text or picture. One over its limit (or an empty picture) the
// client would refuse, so it is never sent broken.
std::optional<ClipboardMessage> messageFor(const ClipboardContent& content) {
    if (const auto* text = content.get<ClipboardContent::Text>()) {
        if (text->utf8.size() <= ClipboardMessage::maxTextBytes) {
            return ClipboardMessage::text(text->utf8);
        }
        clipboardBridgeLog.info("a local text of %zu bytes is too large to send", text->utf8.size());
    } else if (const auto* png = content.get<ClipboardContent::Png>()) {
        if (!png->data.empty() && png->data.size() <= ClipboardMessage::maxImageBytes) {
            return ClipboardMessage::image(png->data);
        }
        clipboardBridgeLog.info("a local picture of %zu bytes is not sent (at most %zu fit a frame)",
                                png->data.size(), ClipboardMessage::maxImageBytes);
    }
    return std::nullopt;
}

} // namespace

std::shared_ptr<ClipboardBridge> ClipboardBridge::make(std::shared_ptr<Clipboard> clipboard,
                                                       std::shared_ptr<FileOffers> offers) {
    return std::shared_ptr<ClipboardBridge>(new ClipboardBridge(std::move(clipboard), std::move(offers)));
}

ClipboardBridge::ClipboardBridge(std::shared_ptr<Clipboard> clipboard, std::shared_ptr<FileOffers> offers)
    : clipboard_(std::move(clipboard)), offers_(std::move(offers)) {}

ClipboardBridge::~ClipboardBridge() {
    releaseWatch();
}

void ClipboardBridge::start() {
    clipboard_->setOnLocalChange(whileAlive(shared_from_this(), &ClipboardBridge::handleLocalChange));
    // Failures are logged where they happen; the client hears nothing of them.
    clipboard_->setOnReadFailure(nullptr);
}

void ClipboardBridge::stop() {
    stopped_ = true;
    releaseWatch();
}

void ClipboardBridge::receive(const ClipboardMessage& message) {
    if (stopped_) {
        return;
    }
    if (const auto* subscription = message.get<ClipboardMessage::Subscribe>()) {
        subscribe(subscription->enabled);
    } else if (const auto* text = message.get<ClipboardMessage::Text>()) {
        clipboard_->put(ClipboardContent::text(text->text));
    } else if (const auto* image = message.get<ClipboardMessage::Image>()) {
        // Offered to local applications as image/png, so nothing else may go out under that name.
        if (!isPng(image->data)) {
            clipboardBridgeLog.info("a picture from the client is not a png and is not offered");
            return;
        }
        clipboard_->put(ClipboardContent::png(image->data));
    }
}

void ClipboardBridge::subscribe(bool enabled) {
    subscribed_ = enabled;
    if (enabled) {
        holdWatch();
    } else {
        releaseWatch();
    }
}

void ClipboardBridge::holdWatch() {
    std::lock_guard guard(watchLock_);
    // A subscription that crosses stop() must not leave a watch behind.
    if (watching_ || stopped_) {
        return;
    }
    watching_ = true;
    clipboard_->startWatching();
}

void ClipboardBridge::releaseWatch() {
    std::lock_guard guard(watchLock_);
    if (!watching_) {
        return;
    }
    watching_ = false;
    clipboard_->stopWatching();
}

void ClipboardBridge::handleLocalChange(const ClipboardContent& content) {
    if (stopped_ || !subscribed_) {
        return;
    }
    if (const auto* files = content.get<ClipboardContent::Files>()) {
        if (onFiles_) {
            onFiles_(offers_->offer(files->files));
        }
        return;
    }
    const auto message = messageFor(content);
    if (message && onMessage_) {
        onMessage_(*message);
    }
}

} // namespace velm
