#include "platform/log/Log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

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
    case Log::Level::error:
        return "error";
    }
    return "?";
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
    char buffer[1024];
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (length < 0) {
        return;
    }
    std::string_view message(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1));

    std::lock_guard guard(lock);
    if (sink) {
        sink(level, category_, message);
        return;
    }
    std::fprintf(stderr, "velm %s [%.*s] %.*s\n", name(level), static_cast<int>(category_.size()),
                 category_.data(), static_cast<int>(message.size()), message.data());
}

} // namespace velm
