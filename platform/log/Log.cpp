#include "platform/log/Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace velm {
namespace {

std::mutex lock;
Log::Sink sink;
std::atomic<Log::Level> threshold{Log::Level::info};

const char* name(Log::Level level) {
    switch (level) {
    case Log::Level::debug:
        return "debug";
    case Log::Level::info:
        return "info";
    case Log::Level::warning:
        return "warning";
    case Log::Level::error:
        return "error";
    }
    return "?";
}

int priority(Log::Level level) {
    switch (level) {
    case Log::Level::debug:
        return LOG_DEBUG;
    case Log::Level::info:
        return LOG_INFO;
    case Log::Level::warning:
        return LOG_WARNING;
    case Log::Level::error:
        return LOG_ERR;
    }
    return LOG_INFO;
}

// The journal takes the messages when the machine runs one; its fields keep the category searchable.
bool journalIsPresent() {
    static const bool present = ::access("/run/systemd/journal/socket", W_OK) == 0;
    return present;
}

void writeToJournal(Log::Level level, std::string_view category, std::string_view message) {
    sd_journal_send("MESSAGE=%.*s", static_cast<int>(message.size()), message.data(), "PRIORITY=%d",
                    priority(level), "SYSLOG_IDENTIFIER=velm-host", "VELM_SUBSYSTEM=pellam.Velm",
                    "VELM_CATEGORY=%.*s", static_cast<int>(category.size()), category.data(), nullptr);
}

// Text that came from outside (a device's name, a peer's message) must not start lines of its own in a
// log read line by line: control characters are written as escapes.
std::string escapedControls(std::string_view message) {
    std::string escaped;
    escaped.reserve(message.size());
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n') {
            escaped += "\\n";
        } else if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            escaped += hex;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

void Log::debug(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    write(Level::debug, format, args);
    va_end(args);
}

void Log::info(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    write(Level::info, format, args);
    va_end(args);
}

void Log::warning(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    write(Level::warning, format, args);
    va_end(args);
}

void Log::error(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    write(Level::error, format, args);
    va_end(args);
}

Log::Sink Log::setSink(Sink newSink) {
    std::lock_guard guard(lock);
    std::swap(sink, newSink);
    return newSink;
}

void Log::setThreshold(Level level) {
    threshold = level;
}

void Log::write(Level level, const char* format, va_list args) const {
    if (level < threshold.load()) {
        return;
    }
    // Callers often log a failure and then look at errno again.
    const int savedErrno = errno;
    char buffer[1024];
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (length < 0) {
        errno = savedErrno;
        return;
    }
    const std::string message = escapedControls(
        std::string_view(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1)));

    std::lock_guard guard(lock);
    if (sink) {
        sink(level, category_, message);
    } else if (journalIsPresent()) {
        writeToJournal(level, category_, message);
    } else {
        std::fprintf(stderr, "velm %s [%.*s] %.*s\n", name(level), static_cast<int>(category_.size()),
                     category_.data(), static_cast<int>(message.size()), message.data());
    }
    errno = savedErrno;
}

} // namespace velm
