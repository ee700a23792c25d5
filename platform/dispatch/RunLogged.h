#pragma once

#include <functional>

namespace velm {

// Runs `work` (nothing when empty). What it throws goes no further than a log line (category
// "dispatch") naming `where`: one piece of work that fails must not end the thread that serves others.
void runLogged(const std::function<void()>& work, const char* where);

} // namespace velm
