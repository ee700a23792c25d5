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
#include <sched.h>
#include <sys/mount.h>
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
        // Without a last good copy to start from.
        std::filesystem::remove(temporary / "defaults.json.last-good");
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
    TemporaryFolder::writeFile(file(), "{\"hostID\": \"abc\"");
    const auto fault = test::SystemCallFaults::failRenaming("defaults.json", EPERM);
    DefaultsStore store(temporary.path());
    EXPECT_FALSE(store.setString("hostID", "fresh"));
    EXPECT_EQ(store.value("hostID"), std::nullopt);
    EXPECT_EQ(TemporaryFolder::readFile(file()), "{\"hostID\": \"abc\"");
    EXPECT_EQ(store.notice(),
              "settings file is damaged: it cannot be moved aside, started from defaults (there is "
              "no last good copy); settings will not be saved");
}

// A file cut short (a crash of another writer, a full disk) costs nothing that was saved before.
TEST_F(DefaultsStoreTest, DamagedFileGivesWayToItsLastGoodCopy) {
    {
        DefaultsStore first(temporary.path());
        ASSERT_TRUE(first.setString("hostID", "kept"));
        ASSERT_TRUE(first.setInteger("port", 5900));
    }
    const std::string good = TemporaryFolder::readFile(file());
    EXPECT_EQ(TemporaryFolder::readFile(temporary / "defaults.json.last-good"), good);

    TemporaryFolder::writeFile(file(), good.substr(0, good.size() / 2));
    errors = 0;
    {
        DefaultsStore store(temporary.path());
        EXPECT_EQ(std::pair(store.stringValue("hostID"), store.integerValue("port")),
                  std::pair(std::optional<std::string>("kept"), std::optional<std::int64_t>(5900)));
        ASSERT_EQ(setAside().size(), 1u);
        EXPECT_EQ(store.notice(), "settings file is damaged: kept as " + setAside()[0].filename().string() +
                                      ", started from its last good copy");
        EXPECT_EQ(errors, 1);
    }
    // Written back, so the next start finds it.
    EXPECT_EQ(TemporaryFolder::readFile(file()), good);
    EXPECT_FALSE(DefaultsStore(temporary.path()).notice());

    // A good file read makes a missing copy again; with both damaged, the defaults are all there is.
    std::filesystem::remove(temporary / "defaults.json.last-good");
    DefaultsStore(temporary.path());
    EXPECT_EQ(TemporaryFolder::readFile(temporary / "defaults.json.last-good"), good);
    TemporaryFolder::writeFile(file(), "");
    TemporaryFolder::writeFile(temporary / "defaults.json.last-good", "{\"hostID\": ");
    DefaultsStore fresh(temporary.path());
    EXPECT_EQ(fresh.value("hostID"), std::nullopt);
    EXPECT_TRUE(fresh.notice() &&
                fresh.notice()->ends_with("started from defaults (its last good copy is damaged too)"));
}

// Every read and write would fail alike: said once, with its cause, and the run keeps its settings.
TEST_F(DefaultsStoreTest, UnusableFolderIsToldOnceAndSettingsLastTheRun) {
    TemporaryFolder::writeFile(temporary / "a-file", "");
    std::filesystem::create_directories(temporary / "theirs");
    std::vector<std::pair<std::filesystem::path, std::string>> cases{
        {temporary / "a-file", (temporary / "a-file").string() + " is not a folder"},
        {temporary / "a-file" / "velm-host", (temporary / "a-file" / "velm-host").string() +
                                                 " cannot be used: a part of its path is not a folder"},
    };
    if (geteuid() == 0 && chown((temporary / "theirs").c_str(), 4242, 4242) == 0) {
        cases.emplace_back(temporary / "theirs",
                           (temporary / "theirs").string() + " belongs to another user");
    }
    for (const auto& [folder, cause] : cases) {
        SCOPED_TRACE(folder);
        errors = 0;
        DefaultsStore store(folder);
        for (const std::string id : {"one", "two", "three", "four"}) {
            EXPECT_TRUE(store.setString("hostID", id));
        }
        EXPECT_EQ(store.stringValue("hostID"), "four");
        EXPECT_EQ(store.notice(),
                  "settings cannot be saved: " + cause + "; they are kept in memory for this run only");
        EXPECT_EQ(errors, 1);
    }
    EXPECT_TRUE(std::filesystem::is_empty(temporary / "theirs"));
}

// Makes `folder` read-only for the calling thread, as a home on a read-only file system is: a bind mount in
// a mount namespace of the thread's own. False where the test may not make one.
bool mountReadOnly(const std::filesystem::path& folder) {
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

// A home on a read-only file system still holds the settings written before: the run starts from them
// (the host's identifier among them), and what changes lasts the run.
TEST_F(DefaultsStoreTest, ReadOnlyFolderIsReadAndSettingsLastTheRun) {
    ASSERT_TRUE(DefaultsStore(temporary.path()).setString("hostID", "kept"));
    if (!mountReadOnly(temporary.path())) {
        GTEST_SKIP() << "a read-only mount cannot be made here";
    }
    errors = 0;
    {
        DefaultsStore store(temporary.path());
        EXPECT_EQ(store.stringValue("hostID"), "kept");
        EXPECT_TRUE(store.setString("hostID", "changed"));
        EXPECT_EQ(store.stringValue("hostID"), "changed");
        EXPECT_EQ(store.notice(),
                  "settings cannot be saved: " + temporary.path().string() +
                      " cannot be written: Read-only file system; they are kept in memory for "
                      "this run only");
        EXPECT_EQ(errors, 1);
    }
    ASSERT_EQ(umount2(temporary.path().c_str(), MNT_DETACH), 0);
    EXPECT_EQ(fileContents(), json({{"hostID", "kept"}}));
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
