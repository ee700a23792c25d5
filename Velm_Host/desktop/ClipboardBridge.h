#pragma once

#include "Velm_Host/desktop/FileOffers.h"
#include "platform/display/Clipboard.h"
#include "protocol/ClipboardMessage.h"
#include "protocol/FileItem.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velm {

// One session's side of the desktop's clipboard: what the client sends is offered to local
// applications, and while the client has subscribed, what local applications copy is sent back
// (text and pictures as clipboard messages, files as an offer). The clipboard and the file offers
// are the process's, shared with the sessions before and after this one.
class ClipboardBridge : public std::enable_shared_from_this<ClipboardBridge> {
public:
    using MessageHandler = std::function<void(ClipboardMessage)>;
    using FilesHandler = std::function<void(std::vector<FileItem>)>;

    static std::shared_ptr<ClipboardBridge> make(std::shared_ptr<Clipboard> clipboard,
                                                 std::shared_ptr<FileOffers> offers);

    // Called on the clipboard's queue; set before start().
    void setOnMessage(MessageHandler handler) { onMessage_ = std::move(handler); }
    void setOnFiles(FilesHandler handler) { onFiles_ = std::move(handler); }

    // Ends this session's watch of the clipboard, should it not have stopped.
    ~ClipboardBridge();

    // Takes the clipboard's reports over from an earlier session, not yet subscribed.
    void start();
    // Nothing is reported afterwards, and this session's watch of the clipboard ends. What the
    // client sent stays offered, and the next session's start takes the reports over.
    void stop();
    void receive(const ClipboardMessage& message);

private:
    ClipboardBridge(std::shared_ptr<Clipboard> clipboard, std::shared_ptr<FileOffers> offers);

    void handleLocalChange(const ClipboardContent& content);
    void subscribe(bool enabled);
    void holdWatch();
    void releaseWatch();

    const std::shared_ptr<Clipboard> clipboard_;
    const std::shared_ptr<FileOffers> offers_;
    MessageHandler onMessage_;
    FilesHandler onFiles_;
    std::atomic<bool> subscribed_{false};
    std::atomic<bool> stopped_{false};
    // Whether this session holds a watch of the clipboard; the watch ends with the last holder.
    std::mutex watchLock_;
    bool watching_ = false;
};

} // namespace velm
