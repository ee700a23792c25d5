#pragma once

#include "Velm_Host/HostModel.h"
#include "Velm_Host/model/StateReport.h"
#include "Velm_Host/ui/HostMachine.h"
#include "Velm_Host/ui/VelmHostApp.h"
#include "platform/dispatch/Queue.h"

#include <functional>
#include <memory>
#include <string>

namespace velm {

// The host as velm-host runs it, put together from what the machine gives: the model over the machine's
// folders, buses, screens and desktop, and with a display the tray application, whose window takes the
// links to this desktop's settings program and reads the machine's one list of screens. What a person
// needs to know (where it listens, the pairing code, sessions starting and ending) is said line by line.
// Without a display the model runs alone.
//
// Lives on the main queue, which runs on the Qt event loop's thread.
class DesktopApplication : public std::enable_shared_from_this<DesktopApplication> {
public:
    using Say = std::function<void(const std::string& line)>;

    struct Flags {
        // Opens a pairing window at start and shows its code.
        bool pair = false;
    };

    // Nothing runs before start().
    static std::shared_ptr<DesktopApplication> make(HostMachine machine, std::shared_ptr<Queue> mainQueue,
                                                    Say say);
    ~DesktopApplication();

    DesktopApplication(const DesktopApplication&) = delete;
    DesktopApplication& operator=(const DesktopApplication&) = delete;

    // The orderly quit is over; the process may end now.
    void setOnFinished(std::function<void()> handler);
    // Call once.
    void start(const Flags& flags);
    // The model's orderly quit, then onFinished; later calls wait for the first.
    void quit();
    bool hasFinished() const { return finished_; }

    const std::shared_ptr<HostModel>& model() const { return model_; }
    // Null without a display.
    const std::shared_ptr<VelmHostApp>& app() const { return app_; }

    // velm-host once its flags are read: the host on this computer until it is quit (its menu, SIGTERM
    // or SIGINT); the process's exit status.
    static int run(int& argc, char** argv, const Flags& flags);

private:
    DesktopApplication(HostMachine machine, std::shared_ptr<Queue> mainQueue, Say say);

    HostModel::Setup modelSetup();
    VelmHostApp::Options appOptions();
    void reportChanges();
    void finish();

    HostMachine machine_;
    const std::shared_ptr<Queue> mainQueue_;
    const Say say_;
    std::shared_ptr<HostModel> model_;
    std::shared_ptr<VelmHostApp> app_;
    StateReport report_;
    std::function<void()> onFinished_;
    bool quitting_ = false;
    bool finished_ = false;
};

} // namespace velm
