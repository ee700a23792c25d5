#pragma once

#include "tests/support/Blocking.h"

#include <QCoreApplication>
#include <functional>

namespace velm::test {

// Delivers the Qt events posted to this thread (work handed back to widgets) until `condition`
// holds; false when it did not within Blocking's limit.
inline bool processEventsUntil(const std::function<bool()>& condition) {
    return Blocking::waitUntil([&] {
        QCoreApplication::processEvents();
        return condition();
    });
}

} // namespace velm::test
