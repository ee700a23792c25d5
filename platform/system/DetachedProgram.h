#pragma once

#include <string>
#include <vector>

namespace velm {

// Starts a program that runs on its own: in a session of its own, taken over by init (never left a
// zombie of this process), and with none of this process's open files but standard input, output
// and error. Sockets and files that a library opened without close-on-exec stay here too, so a
// program that outlives this one holds no connection or port of it. It takes broken pipes as any
// program does, whether this process ignores them or not.
class DetachedProgram {
public:
    DetachedProgram() = delete;

    // `program` is a full path; `arguments` follow its name. False when it could not be started
    // (not there, not executable, no process to spare).
    static bool start(const std::string& program, const std::vector<std::string>& arguments);
};

} // namespace velm
