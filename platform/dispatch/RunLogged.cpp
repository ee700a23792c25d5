#include "platform/dispatch/RunLogged.h"

#include "platform/log/Log.h"

#include <exception>

namespace velm {

void runLogged(const std::function<void()>& work, const char* where) {
    try {
        if (work) {
            work();
        }
    } catch (const std::exception& error) {
        Log("dispatch").error("work on %s threw: %s", where, error.what());
    } catch (...) {
        Log("dispatch").error("work on %s threw a non-standard exception", where);
    }
}

} // namespace velm
