// sdk/platform/child_process.h - running a program as a child process, for
// tools that must outlive what the child does: a plug-in that crashes, hangs
// or ends its process takes only the child with it.
//
// Kept apart from platform.h so that a plug-in library, which links the
// platform layer, never carries process-spawning code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Korvo::Platform {

struct ChildOutcome {
    enum class Ending {
        Exited,      // code: its exit status
        Crashed,     // code: the signal (POSIX) or the exception code (Windows)
        TimedOut,    // killed after the time limit
        NotStarted,  // code: the system's error number
    };
    Ending ending = Ending::NotStarted;
    uint32_t code = 0;
};

// Runs argv[0] (a path, not searched for) with the arguments argv[1...],
// its standard output and error written to outputPath (created or
// truncated), and waits for it to end, at most timeoutMilliseconds; a child
// still running then is killed. On Windows a crashing child shows no error
// dialog.
ChildOutcome RunChildProcess(const std::vector<std::string>& argv, const std::string& outputPath,
                             uint32_t timeoutMilliseconds);

// The full path of the running program; empty when the system cannot say.
std::string MainExecutablePath();

// Called early in a child that RunChildProcess started: from then on, a
// fault that would end the process (an unhandled exception on Windows, a
// fatal signal on POSIX) first writes one line to the file at path saying
// what it was and where: on Windows the exception code and its name, the
// faulting module and the offset in it, which read the same on Windows and
// under Wine; on POSIX the signal, its name and the faulting address. The
// process then ends as the fault ends it, so the parent's outcome is
// unchanged, but without the system's own crash handling (an error dialog,
// or Wine's debugger printing into the child's output). The file is created
// now, empty, so the report needs no allocation. False when it cannot be.
bool ReportFaultsTo(const std::string& path);

}  // namespace Korvo::Platform
