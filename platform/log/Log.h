#pragma once

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

namespace velm {

// A printf-style logger for one area of the program ("host", "session", ...).
// Messages are short lower-case English. They go to the systemd journal when the
// machine runs one (with the fields VELM_SUBSYSTEM and VELM_CATEGORY), else to
// stderr, unless a sink is installed (tests install one to look at what was logged).
class Log {
public:
    enum class Level { debug, info, warning, error };
    using Sink = std::function<void(Level, std::string_view category, std::string_view message)>;

    explicit constexpr Log(std::string_view category) : category_(category) {}

    void debug(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void info(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // Something a person should act on or know of, though the program carries on.
    void warning(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void error(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    std::string_view category() const { return category_; }

    // Replaces where messages go; an empty sink restores the journal or stderr. Returns the previous sink.
    static Sink setSink(Sink sink);
    // Messages below this level are dropped; the default is info.
    static void setThreshold(Level level);

private:
    void write(Level level, const char* format, va_list args) const;

    std::string_view category_;
};

} // namespace velm
