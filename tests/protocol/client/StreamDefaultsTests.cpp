#include "platform/store/DefaultsStore.h"
#include "protocol/client/StreamDefaults.h"
#include "tests/support/TemporaryFolder.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace velm {
namespace {

using Settings = StreamDefaults::StoreSettings<DefaultsStore>;

TEST(StreamDefaults, ResolvedFrameRate) {
    EXPECT_EQ(StreamDefaults::resolvedFPS(StreamDefaults::automaticFPS, 119), 60);
    EXPECT_EQ(StreamDefaults::resolvedFPS(0, 120), 120);
    EXPECT_EQ(StreamDefaults::resolvedFPS(0, 240), 120);
    EXPECT_EQ(StreamDefaults::resolvedFPS(120, 60), 120);
    // A negative rate from a damaged store is taken as automatic.
    EXPECT_EQ(StreamDefaults::resolvedFPS(-1, 120), 120);
}

TEST(StreamDefaults, EachKindOfStreamHasItsOwnKeyAndAwayDecidesFirst) {
    struct Case {
        bool app;
        bool away;
        std::string_view key;
    };
    const Case cases[] = {
        {false, false, StreamDefaults::favorsFrameRateKey},
        {true, false, StreamDefaults::appFavorsFrameRateKey},
        {false, true, StreamDefaults::awayFavorsFrameRateKey},
        {true, true, StreamDefaults::awayFavorsFrameRateKey},
    };
    for (const Case& written : cases) {
        DefaultsStore store;
        Settings settings(store);
        // The opposite of the default, which every other kind of stream keeps.
        const bool favors = !written.away;
        ASSERT_TRUE(StreamDefaults::setFavorsFrameRate(favors, written.app, written.away, settings));
        EXPECT_EQ(store.boolValue(written.key), favors) << written.key;
        for (const Case& read : cases) {
            const bool sameKey = read.key == written.key;
            EXPECT_EQ(StreamDefaults::favorsFrameRate(read.app, read.away, settings),
                      sameKey ? favors : read.away)
                << "written under " << written.key << ", read from " << read.key;
        }
    }

    // Values that are not Booleans read as the default.
    DefaultsStore store;
    Settings settings(store);
    ASSERT_TRUE(store.setString(StreamDefaults::awayFavorsFrameRateKey, "false"));
    ASSERT_TRUE(store.setInteger(StreamDefaults::favorsFrameRateKey, 1));
    EXPECT_TRUE(StreamDefaults::favorsFrameRate(false, true, settings));
    EXPECT_FALSE(StreamDefaults::favorsFrameRate(false, false, settings));
}

// From generation one only the frame-rate preference is cleared; later generations, the user's choices
// after the upgrade among them, are left alone; an empty store is filled.
TEST(StreamDefaults, MigrationUpgradesOlderStoresOnly) {
    for (std::int64_t generation : {1, 2, 3}) {
        SCOPED_TRACE(generation);
        DefaultsStore store;
        Settings settings(store);
        ASSERT_TRUE(store.setInteger(StreamDefaults::generationKey, generation));
        ASSERT_TRUE(store.setInteger(StreamDefaults::preferredFPSKey, 30));
        ASSERT_TRUE(store.setBool(StreamDefaults::usesStandardEncoderKey, false));
        ASSERT_TRUE(store.setBool(StreamDefaults::favorsFrameRateKey, true));
        ASSERT_TRUE(store.setBool(StreamDefaults::appFavorsFrameRateKey, true));

        ASSERT_TRUE(StreamDefaults::migrate(settings));
        EXPECT_EQ(store.integerValue(StreamDefaults::preferredFPSKey), 30);
        EXPECT_EQ(store.boolValue(StreamDefaults::usesStandardEncoderKey), false);
        EXPECT_EQ(store.boolValue(StreamDefaults::favorsFrameRateKey), generation != 1);
        EXPECT_EQ(store.boolValue(StreamDefaults::appFavorsFrameRateKey), true);
        EXPECT_EQ(store.integerValue(StreamDefaults::generationKey), std::max<std::int64_t>(generation, 2));
    }

    DefaultsStore store;
    Settings settings(store);
    ASSERT_TRUE(StreamDefaults::migrate(settings));
    EXPECT_EQ(store.integerValue(StreamDefaults::preferredFPSKey), 0);
    EXPECT_EQ(store.boolValue(StreamDefaults::usesStandardEncoderKey), true);
    EXPECT_EQ(store.boolValue(StreamDefaults::favorsFrameRateKey), false);
    EXPECT_EQ(store.integerValue(StreamDefaults::generationKey), 2);
}

TEST(StreamDefaults, AMigrationThatCannotWriteIsNotRecordedAsDone) {
    test::TemporaryFolder temporary;
    const std::filesystem::path obstacle = temporary / "defaults.json.tmp";
    {
        DefaultsStore store(temporary.path());
        Settings settings(store);
        std::filesystem::create_directories(obstacle / "in-the-way");
        EXPECT_FALSE(StreamDefaults::migrate(settings));
        EXPECT_EQ(store.value(StreamDefaults::generationKey), std::nullopt);
        EXPECT_FALSE(StreamDefaults::setFavorsFrameRate(true, false, true, settings));

        std::filesystem::remove_all(obstacle);
        EXPECT_TRUE(StreamDefaults::migrate(settings));
    }
    DefaultsStore reopened(temporary.path());
    EXPECT_EQ(reopened.integerValue(StreamDefaults::generationKey), 2);
    EXPECT_EQ(reopened.boolValue(StreamDefaults::usesStandardEncoderKey), true);
}

TEST(StreamDefaults, ResolvedAndReducedFactor) {
    EXPECT_EQ(StreamDefaults::resolvedFactor(true, true, 3.0), 3.0);
    EXPECT_EQ(StreamDefaults::resolvedFactor(true, true, 1.5), 2.0);
    EXPECT_EQ(StreamDefaults::resolvedFactor(false, true, 1.5), 1.5);
    EXPECT_EQ(StreamDefaults::resolvedFactor(false, false, 1.5), 2.0);
    EXPECT_EQ(StreamDefaults::resolvedFactor(false, true, 0.5), 2.0);
    EXPECT_EQ(StreamDefaults::resolvedFactor(false, true, 3.0), 2.0);
    for (double bogus : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(StreamDefaults::resolvedFactor(true, true, bogus), 2.0);
        EXPECT_EQ(StreamDefaults::resolvedFactor(false, true, bogus), 2.0);
    }

    // Whether a factor is reduced tells exactly whether allowing a reduction changes the answer.
    for (bool unbounded : {false, true}) {
        for (double factor = -1.0; factor <= 4.0; factor += 0.125) {
            const bool matters = StreamDefaults::resolvedFactor(unbounded, true, factor) !=
                                 StreamDefaults::resolvedFactor(unbounded, false, factor);
            EXPECT_EQ(StreamDefaults::factorIsReduced(unbounded, factor), matters)
                << "unbounded " << unbounded << ", factor " << factor;
        }
    }
    EXPECT_TRUE(StreamDefaults::factorIsReduced(false, std::nextafter(2.0, 0.0)));
    EXPECT_FALSE(StreamDefaults::factorIsReduced(false, std::nextafter(1.0, 0.0)));
}

} // namespace
} // namespace velm
