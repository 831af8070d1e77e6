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

// After the tree was told to end: asks `activeProcesses` until it reports none left, pausing
// between two asks, for a few seconds of pauses at most (the system ends processes after the call
// that ends them returns; a JVM with a large heap takes a moment). True once none is left; false
// when the time is up or the count cannot be had (then waiting teaches nothing).
bool waitUntilTreeGone(const std::function<std::optional<std::uint32_t>()>& activeProcesses,
                       const std::function<void(std::chrono::milliseconds)>& pause);

}  // namespace connector
