#include "platform/log/Log.h"

#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

namespace velm {
namespace {

TEST(LogTest, FormatsFiltersByThresholdAndCutsLongMessages) {
    using Line = std::tuple<Log::Level, std::string, std::string>;
    std::vector<Line> lines;
    const Log::Sink previous =
        Log::setSink([&](Log::Level level, std::string_view category, std::string_view message) {
            lines.emplace_back(level, category, message);
        });
    Log log("host");
    log.debug("hidden %d", 1);
    log.info("session ended: %s after %ld s", "bye", 12L);
    log.info("%s", std::string(5000, 'x').c_str());
    log.warning("not found on the network: %s", "no daemon");
    Log::setThreshold(Log::Level::error);
    log.info("hidden too");
    log.warning("hidden as well");
    log.error("failed");
    Log::setThreshold(Log::Level::info);
    Log::setSink(previous);

    EXPECT_EQ(lines, (std::vector<Line>{{Log::Level::info, "host", "session ended: bye after 12 s"},
                                        {Log::Level::info, "host", std::string(1023, 'x')},
                                        {Log::Level::warning, "host", "not found on the network: no daemon"},
                                        {Log::Level::error, "host", "failed"}}));
}

// A name from a device cannot forge a line of its own in a log read line by line.
TEST(LogTest, WritesControlCharactersAsEscapes) {
    std::vector<std::string> messages;
    const Log::Sink previous = Log::setSink(
        [&](Log::Level, std::string_view, std::string_view message) { messages.emplace_back(message); });
    Log("host").info("session started: %s", "iPad\nvelm error [host] forged\r\x1b[2J\tok\x7f é");
    Log::setSink(previous);

    EXPECT_EQ(messages, std::vector<std::string>{
                            "session started: iPad\\nvelm error [host] forged\\x0d\\x1b[2J\tok\\x7f é"});
}

} // namespace
} // namespace velm
