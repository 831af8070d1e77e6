#pragma once
// One running child program and everything it starts, as the process runner sees it: the system
// calls of each OS behind one small interface (child_process_posix.cpp, child_process_win32.cpp).
// The run loop around them (deadline, stop, output cap, drain) is portable, in process_runner.cpp.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace connector {

class ChildProcess {
 public:
  // Starts the program hidden, with stdout and stderr on one pipe that only this object reads.
  // Throws std::runtime_error with process_capture::kPipeFailed or kStartFailed.
  ChildProcess(const std::string& executable, const std::vector<std::string>& arguments,
               const std::filesystem::path& workingDirectory);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Ends the whole tree if the runner leaves early (an exception), and releases everything.
  ~ChildProcess();

  struct Read {
    std::size_t bytes = 0;  // 0: nothing waits now
    bool closed = false;    // every write end is closed and the pipe is empty
  };
  // One read of at most buffer.size() bytes of what already waits in the pipe; never blocks.
  Read readWaiting(std::span<char> buffer);

  // Waits at most `limit` for the child's own end (POSIX also wakes early when output arrives);
  // true once it has ended.
  bool waitEnded(std::chrono::milliseconds limit);

  // Ends the child, if it still runs, and everything it started, and waits for the child.
  void endTree();

  // The child's exit code, once endTree has run; 1 when the system cannot tell.
  std::uint32_t exitCode();

 private:
  struct System;  // the OS's handles, defined in each OS's file
  std::unique_ptr<System> system_;
};

// What the wait for a tree's end asks of the system, replaceable so that tests can play a system
// whose counts and lists lag behind the processes.
struct TreeMembers {
  // The ids of the processes the tree still lists; nullopt when the system cannot tell.
  std::function<std::optional<std::vector<std::uint32_t>>()> list;
  // Waits at most `limit` for one of them to end; true once it has ended or is no longer the
  // tree's, false when it still runs or cannot be waited on.
  std::function<bool(std::uint32_t, std::chrono::milliseconds)> waitEnded;
  std::function<std::chrono::steady_clock::time_point()> now;
};

// After the tree was told to end: waits on each process the tree lists, and looks again, until a
// look finds none still running, for a few seconds at most (the system ends processes after the
// call that ends them returns; a JVM with a large heap takes a moment). A listed process that has
// already ended counts as gone: the system may list it while anything, the runner included, still
// holds it. True once none runs; false when the time is up or the tree cannot be watched.
bool waitUntilTreeGone(const TreeMembers& tree);

}  // namespace connector
