#include "input/LocalInputFilter.h"

#include <cstring>
#include <gtest/gtest.h>

namespace velm {
namespace {

using LocalInputFilter::EventType;
using LocalInputFilter::shouldPass;

EventType typeNumber(std::uint32_t number) {
    return static_cast<EventType>(number);
}

TEST(LocalInputFilter, DropsLocalInputAndPassesMarkedEvents) {
    EXPECT_EQ(LocalInputFilter::marker, ('V' << 24) | ('E' << 16) | ('L' << 8) | 'M');
    EXPECT_EQ(LocalInputFilter::eventMask, 0x7efdc5cfeULL);
    for (EventType type : LocalInputFilter::blockedTypes) {
        EXPECT_FALSE(shouldPass(type, 0)) << static_cast<int>(type);
        EXPECT_TRUE(shouldPass(type, LocalInputFilter::marker)) << static_cast<int>(type);
    }
    EXPECT_FALSE(shouldPass(EventType::scrollWheel, 0x56454C4E));
    EXPECT_FALSE(shouldPass(EventType::keyDown, -1));
}

TEST(LocalInputFilter, PassesUnblockedTypesWithoutMarker) {
    EXPECT_TRUE(shouldPass(EventType::mouseEntered, 0));
    for (std::uint32_t number : {0u, 13u, 21u, 35u, 63u, 64u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(shouldPass(typeNumber(number), 0)) << number;
    }
}

} // namespace
} // namespace velm
