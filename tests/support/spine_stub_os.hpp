#pragma once
// What the test launcher needs from its OS for the modes that look at processes and handles.
#include <string>
#include <vector>

namespace connector::test {

// Starts another copy of this program in the given mode ("--import <mode>"), sharing this one's
// standard output and working directory; returns its process id, or "" if it could not be started.
std::string startHangingCopy(const std::string& mode = "stub-hang");

// Ends this process as a crash does: killed by SIGSEGV on POSIX, an unhandled access violation
// on Windows (no error dialog), without flushing anything.
[[noreturn]] void crash();

// Starts another copy of this program that hangs, asking to leave whatever ends this one's tree
// (Windows: the job, with CREATE_BREAKAWAY_FROM_JOB; POSIX: the process group, in a session of its
// own), as Spine's updater does, without this one's standard streams; returns its process id, or
// "" if it could not be started.
std::string startBreakawayCopy();

// One line per probe value: "probe <value>=open" when this process holds that handle or
// descriptor (on Windows: a disk file), else "probe <value>=closed". On POSIX it then lists every
// open descriptor as "fds=<n>,<n>,...".
std::string describeInheritedHandles(const std::vector<std::string>& probes);

// One line "pid <id> handles=<n>" for each other running process whose program is the given
// file (a path in this OS's form, compared without case on Windows): n is its open handles
// (Windows, as the system's handle table lists them) or descriptors (POSIX).
std::string describeHandleCounts(const std::string& program);

}  // namespace connector::test
