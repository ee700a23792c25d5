#include "input/LocalInputFilter.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using LocalInputFilter::EventType;
using LocalInputFilter::shouldPass;

TEST(LocalInputFilter, DropsLocalInputAndPassesMarkedOrUnblockedEvents) {
    for (EventType type : LocalInputFilter::blockedTypes) {
        EXPECT_FALSE(shouldPass(type, 0)) << static_cast<int>(type);
        EXPECT_TRUE(shouldPass(type, LocalInputFilter::marker)) << static_cast<int>(type);
    }
    EXPECT_FALSE(shouldPass(EventType::scrollWheel, 0x56454C4E)); // "VELN": close to the marker is not it
    EXPECT_FALSE(shouldPass(EventType::keyDown, -1));
    for (std::uint32_t number : {0u, 13u, 21u, 35u, 63u, 64u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(shouldPass(static_cast<EventType>(number), 0)) << number;
    }
    EXPECT_TRUE(shouldPass(EventType::mouseEntered, 0));
}

} // namespace
} // namespace velm
