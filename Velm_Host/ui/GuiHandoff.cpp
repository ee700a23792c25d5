#include "Velm_Host/ui/GuiHandoff.h"

#include <QMetaObject>
#include <QObject>

namespace velm {

void GuiHandoff::post(std::function<void()> work) {
    // Posting under the lock keeps the receiver from being destroyed half-way through.
    std::lock_guard guard(lock);
    if (receiver_ != nullptr) {
        QMetaObject::invokeMethod(receiver_, std::move(work), Qt::QueuedConnection);
    }
}

void GuiHandoff::close() {
    std::lock_guard guard(lock);
    receiver_ = nullptr;
}

} // namespace velm
