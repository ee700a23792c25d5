#include "platform/log/Log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velm {
namespace {

struct Captured {
    Log::Level level;
    std::string category;
    std::string message;
};

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = Log::setSink([this](Log::Level level, std::string_view category, std::string_view message) {
            lines.push_back({level, std::string(category), std::string(message)});
        });
    }
    void TearDown() override {
        Log::setSink(previous);
        Log::setThreshold(Log::Level::info);
    }

    std::vector<Captured> lines;
    Log::Sink previous;
};

TEST_F(LogTest, FormatsAndFiltersByThreshold) {
    Log log("host");
    log.debug("hidden %d", 1);
    log.info("session ended: %s after %ld s", "bye", 12L);
    Log::setThreshold(Log::Level::error);
    log.info("hidden too");
    log.error("failed");

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].category, "host");
    EXPECT_EQ(lines[0].message, "session ended: bye after 12 s");
    EXPECT_EQ(lines[1].level, Log::Level::error);
}

TEST_F(LogTest, LongMessagesAreCutNotOverrun) {
    std::string long_text(5000, 'x');
    Log("host").info("%s", long_text.c_str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message.size(), 1023u);
}

} // namespace
} // namespace velm
