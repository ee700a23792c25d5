#pragma once

#include "platform/log/Log.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// Collects what is logged while it exists, from any thread.
class LogCapture {
public:
    LogCapture() {
        previous_ =
            Log::setSink([this](Log::Level level, std::string_view category, std::string_view message) {
                std::lock_guard guard(lock);
                lines_.push_back(std::string(category) + ": " + std::string(message));
                levels_.push_back(level);
            });
    }
    ~LogCapture() { Log::setSink(previous_); }

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() {
        std::lock_guard guard(lock);
        return lines_;
    }

    // Only the lines logged at `level`.
    std::vector<std::string> lines(Log::Level level) {
        std::lock_guard guard(lock);
        std::vector<std::string> chosen;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (levels_[i] == level) {
                chosen.push_back(lines_[i]);
            }
        }
        return chosen;
    }

    bool contains(std::string_view text) {
        std::lock_guard guard(lock);
        return std::any_of(lines_.begin(), lines_.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    // Whether a line with `text` was logged at `level`.
    bool contains(std::string_view text, Log::Level level) {
        std::lock_guard guard(lock);
        for (std::size_t index = 0; index < lines_.size(); ++index) {
            if (levels_[index] == level && lines_[index].find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    std::mutex lock;
    std::vector<std::string> lines_;
    std::vector<Log::Level> levels_;
    Log::Sink previous_;
};

} // namespace velm
