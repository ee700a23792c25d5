#include "platform/log/Log.h"
#include "platform/store/DefaultsStore.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <numeric>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velm {
namespace {

using nlohmann::json;
using test::TemporaryFolder;

class DefaultsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink = Log::setSink([this](Log::Level level, std::string_view category, std::string_view) {
            if (level == Log::Level::error && category == "store") {
                ++errors;
            }
        });
    }
    void TearDown() override { Log::setSink(previousSink); }

    std::filesystem::path file() const { return temporary / "defaults.json"; }
    json fileContents() const { return json::parse(TemporaryFolder::readFile(file())); }

    std::vector<std::filesystem::path> setAside() const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(temporary.path())) {
            if (entry.path().filename().string().starts_with("defaults.json.corrupt-")) {
                found.push_back(entry.path());
            }
        }
        return found;
    }

    TemporaryFolder temporary;
    Log::Sink previousSink;
    std::atomic<int> errors{0};
};

TEST_F(DefaultsStoreTest, ReadsStoredThenRegisteredThenAbsent) {
    DefaultsStore store;
    EXPECT_EQ(store.value("allowRemoteAccess"), std::nullopt);

    store.registerDefaults({{"allowRemoteAccess", true}, {"awayAccessDays", 30}, {"ratio", 1.5}});
    EXPECT_EQ(store.boolValue("allowRemoteAccess"), true);
    EXPECT_EQ(store.integerValue("awayAccessDays"), 30);
    EXPECT_EQ(store.integerValue("ratio"), std::nullopt);

    ASSERT_TRUE(store.setString("awayAccessDays", "seven"));
    EXPECT_EQ(store.integerValue("awayAccessDays"), std::nullopt); // a stored value of another type wins
    EXPECT_EQ(store.stringValue("awayAccessDays"), "seven");
    ASSERT_TRUE(store.remove("awayAccessDays"));
    EXPECT_EQ(store.integerValue("awayAccessDays"), 30);

    store.registerDefaults({{"allowRemoteAccess", false}});
    EXPECT_EQ(store.boolValue("allowRemoteAccess"), false);
}

TEST_F(DefaultsStoreTest, EveryTypeSurvivesReopening) {
    Bytes allBytes(256);
    std::iota(allBytes.begin(), allBytes.end(), 0);
    // The deepest value the store accepts must also load back, or the whole file would be set aside.
    json deepest = json::array();
    for (int i = 0; i < 64; ++i) {
        deepest = {{"in", deepest}};
    }
    const std::map<std::string, DefaultsValue> values = {
        {"allowRemoteAccess", false},
        {"min", std::numeric_limits<std::int64_t>::min()},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"third", 1.0 / 3.0},
        {"hostID", std::string("9F3A\xE2\x82\xAC \"quoted\"\n")},
        {"bytes", allBytes},
        {"tail", toBytes("ab")},
        {"connectionHistory",
         json{{"records", json::array({{{"kind", "session"}, {"started", 7.25}, {"ending", nullptr}}})}}},
        {"deepest", deepest},
    };
    {
        DefaultsStore store(temporary.path());
        for (const auto& [key, value] : values) {
            ASSERT_TRUE(store.set(key, value)) << key;
        }
    }
    DefaultsStore store(temporary.path());
    for (const auto& [key, value] : values) {
        EXPECT_EQ(store.value(key), value) << key;
    }
    EXPECT_TRUE(setAside().empty());
    EXPECT_EQ(fileContents()["tail"], json({{"data", "YWI="}}));
    EXPECT_EQ(errors, 0);
}

// A write refused, or one that fails on disk, changes nothing.
TEST_F(DefaultsStoreTest, RefusedOrFailedWritesChangeNothing) {
    DefaultsStore store(temporary.path());
    ASSERT_TRUE(store.setDouble("ratio", 1.0));
    const std::string before = TemporaryFolder::readFile(file());

    json deep = 1;
    for (int i = 0; i < 65; ++i) {
        deep = json::array({deep});
    }
    const std::pair<std::string, DefaultsValue> uncarried[] = {
        {"ratio", std::nan("")},
        {"name", std::string("bad \xC3")},
        {"bad key \xFF", true},
        {"record", json{{"name", "bad \xFF"}}},
        {"record", json{{"value", std::nan("")}}},
        {"record", json::binary({1, 2})},
        {"record", deep},
    };
    for (const auto& [key, value] : uncarried) {
        EXPECT_FALSE(store.set(key, value)) << key;
    }
    EXPECT_EQ(TemporaryFolder::readFile(file()), before);

    std::filesystem::create_directories(temporary / "defaults.json.tmp" / "in-the-way");
    EXPECT_FALSE(store.setDouble("ratio", 2.0));
    EXPECT_FALSE(store.remove("ratio"));
    EXPECT_EQ(store.doubleValue("ratio"), 1.0);
    EXPECT_EQ(DefaultsStore(temporary.path()).doubleValue("ratio"), 1.0);
}

TEST_F(DefaultsStoreTest, UnreadableFileIsKeptAsideAndDefaultsApply) {
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::vector<std::string> broken = {
        "{\"hostID\": \"abc\"",     // cut short by a crash of some other writer
        "[true]",                   // not an object
        "{\"name\": \"bad \xFF\"}", // not UTF-8
        "{\"deep\": " + deep + "}", // nested beyond reason
        std::string(64, '\0'),      // zeros after a lost write
    };
    for (const auto& contents : broken) {
        TemporaryFolder::writeFile(file(), contents);
        errors = 0;
        {
            DefaultsStore store(temporary.path());
            store.registerDefaults({{"allowRemoteAccess", true}});
            EXPECT_EQ(store.boolValue("allowRemoteAccess"), true);
            EXPECT_EQ(store.value("hostID"), std::nullopt);
            EXPECT_GE(errors, 1);

            auto aside = setAside();
            ASSERT_EQ(aside.size(), 1u);
            EXPECT_EQ(TemporaryFolder::readFile(aside[0]), contents);
            std::filesystem::remove(aside[0]);

            ASSERT_TRUE(store.setString("hostID", "fresh"));
        }
        EXPECT_EQ(DefaultsStore(temporary.path()).stringValue("hostID"), "fresh");
        EXPECT_TRUE(setAside().empty());
    }
}

// Running out of descriptors says nothing about the file: it stays, and is read once it can be.
TEST_F(DefaultsStoreTest, FileThatCannotBeOpenedNowIsLeftInPlaceAndReadBeforeTheNextWrite) {
    TemporaryFolder::writeFile(file(), R"({"hostID": "kept", "port": 5900})");
    ASSERT_EQ(chmod(file().c_str(), 0600), 0);
    ASSERT_EQ(chmod(temporary.path().c_str(), 0700), 0);
    std::optional<DefaultsStore> store;
    {
        const auto fault = test::SystemCallFaults::failOpening("defaults.json", EMFILE);
        store.emplace(temporary.path());
        EXPECT_EQ(store->value("hostID"), std::nullopt);
        EXPECT_GE(errors, 1);
        EXPECT_FALSE(store->setString("hostID", "lost"));
    }
    EXPECT_TRUE(setAside().empty());
    EXPECT_EQ(fileContents(), json::parse(R"({"hostID": "kept", "port": 5900})"));

    ASSERT_TRUE(store->setString("hostID", "fresh"));
    EXPECT_EQ(store->integerValue("port"), 5900);
    EXPECT_EQ(fileContents(), json::parse(R"({"hostID": "fresh", "port": 5900})"));
}

TEST_F(DefaultsStoreTest, WriteWhoseFolderSyncFailsIsReportedAndNotTaken) {
    DefaultsStore store(temporary.path());
    ASSERT_TRUE(store.setString("hostID", "one"));
    const auto fault = test::SystemCallFaults::failFolderSync();
    EXPECT_FALSE(store.setString("hostID", "two"));
    EXPECT_EQ(store.stringValue("hostID"), "one");
}

TEST_F(DefaultsStoreTest, FileThatCannotBeMovedAsideIsNeverOverwritten) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "changing owners needs root";
    }
    TemporaryFolder::writeFile(file(), "{\"hostID\": \"abc\"");
    ASSERT_EQ(chmod(temporary.path().c_str(), 0700), 0);
    ASSERT_EQ(chown(temporary.path().c_str(), 4242, 4242), 0);

    DefaultsStore store(temporary.path());
    EXPECT_FALSE(store.setString("hostID", "fresh"));
    EXPECT_EQ(store.value("hostID"), std::nullopt);
    EXPECT_EQ(TemporaryFolder::readFile(file()), "{\"hostID\": \"abc\"");
}

TEST_F(DefaultsStoreTest, EntriesNotUnderstoodAreKeptAsTheyAre) {
    json odd = {{"nothing", nullptr},
                {"list", {1, 2}},
                {"huge", std::numeric_limits<std::uint64_t>::max()},
                {"newForm", {{"uuid", "ABC"}}},
                {"badData", {{"data", "not base64!"}}},
                {"known", true}};
    TemporaryFolder::writeFile(file(), odd.dump());
    DefaultsStore store(temporary.path());
    store.registerDefaults({{"newForm", std::string("fallback")}});
    EXPECT_EQ(store.value("nothing"), std::nullopt);
    EXPECT_EQ(store.value("huge"), std::nullopt);
    EXPECT_EQ(store.value("badData"), std::nullopt);
    EXPECT_EQ(store.stringValue("newForm"), "fallback");
    EXPECT_EQ(store.boolValue("known"), true);

    ASSERT_TRUE(store.setBool("known", false));
    odd["known"] = false;
    EXPECT_EQ(fileContents(), odd);
    EXPECT_TRUE(setAside().empty());
}

TEST_F(DefaultsStoreTest, KilledWriterLeavesOldOrNewValue) {
    // Large values take several writes each, so the kills land at many different points.
    const std::string padding(512 * 1024, 'p');
    for (int round = 0; round < 12; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            DefaultsStore store(temporary.path());
            for (int i = 0;; ++i) {
                store.setString("value", std::to_string(round) + ":" + std::to_string(i) + ":" + padding);
            }
        }
        usleep(static_cast<useconds_t>(2000 + 7000 * round));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        DefaultsStore store(temporary.path());
        EXPECT_TRUE(setAside().empty()) << "round " << round;
        if (auto value = store.stringValue("value")) {
            EXPECT_TRUE(value->ends_with(":" + padding)) << "round " << round;
        }
    }
}

TEST_F(DefaultsStoreTest, ReadersDuringWritesSeeOldOrNewNeverTorn) {
    DefaultsStore inMemory;
    DefaultsStore onDisk(temporary.path());
    const std::string first(4096, 'a');
    const std::string second(4096, 'b');
    for (DefaultsStore* store : {&inMemory, &onDisk}) {
        ASSERT_TRUE(store->setData("bytes", toBytes(first)));
        std::atomic<bool> done{false};
        std::atomic<int> torn{0};
        std::thread reader([&] {
            while (!done) {
                auto bytes = store->dataValue("bytes");
                torn += !bytes || (*bytes != toBytes(first) && *bytes != toBytes(second));
            }
        });
        for (int i = 0; i < 100; ++i) {
            EXPECT_TRUE(store->setData("bytes", toBytes(i % 2 ? first : second)));
        }
        done = true;
        reader.join();
        EXPECT_EQ(torn, 0);
    }
}

} // namespace
} // namespace velm
