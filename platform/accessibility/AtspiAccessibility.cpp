#include "platform/accessibility/AtspiAccessibility.h"

#include "platform/accessibility/AtspiTree.h"
#include "platform/log/Log.h"

#include <exception>
#include <glib.h>
#include <pthread.h>

namespace velm {
namespace {

const Log atspiAccessibilityLog("accessibility");

} // namespace

struct AtspiAccessibility::Call {
    AtspiAccessibility* owner;
    Visit visit;
};

std::shared_ptr<Accessibility> AtspiAccessibility::shared() {
    static const std::shared_ptr<AtspiAccessibility> instance(new AtspiAccessibility());
    return instance;
}

AtspiAccessibility::AtspiAccessibility()
    : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)), thread_([this] { run(); }) {}

AtspiAccessibility::~AtspiAccessibility() {
    // Quitting from inside the loop, after the visits already posted: a quit before the loop runs
    // would be lost.
    g_main_context_invoke(
        context_,
        [](gpointer loop) {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void AtspiAccessibility::run() {
    pthread_setname_np(pthread_self(), "accessibility");
    g_main_context_push_thread_default(context_);
    tree_ = AtspiTree::open(context_);
    g_main_loop_run(loop_);
    tree_.reset();
    g_main_context_pop_thread_default(context_);
}

void AtspiAccessibility::visit(Visit visit) {
    if (pending_.fetch_add(1) >= maxPendingVisits) {
        pending_.fetch_sub(1);
        atspiAccessibilityLog.error("accessibility thread busy: visit dropped");
        return;
    }
    g_main_context_invoke_full(context_, G_PRIORITY_DEFAULT, &AtspiAccessibility::runCall,
                               new Call{this, std::move(visit)},
                               [](gpointer call) { delete static_cast<Call*>(call); });
}

int AtspiAccessibility::runCall(void* data) {
    auto* call = static_cast<Call*>(data);
    call->owner->pending_.fetch_sub(1);
    AtspiTree& tree = *call->owner->tree_;
    try {
        call->visit(tree);
    } catch (const std::exception& error) {
        atspiAccessibilityLog.error("accessibility visit failed: %s", error.what());
    } catch (...) {
        atspiAccessibilityLog.error("accessibility visit failed");
    }
    tree.endVisit();
    return G_SOURCE_REMOVE;
}

} // namespace velm
