#include "platform/core/Date.h"

#include <chrono>

namespace velm {

Date Date::now() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return Date(std::chrono::duration<double>(sinceEpoch).count() - referenceDateInUnixTime);
}

} // namespace velm
