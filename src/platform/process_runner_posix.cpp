#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/process_capture.hpp"
#include "platform/process_runner.hpp"
#include "platform/unique_fd.hpp"

extern char** environ;

namespace connector {
namespace {

using Clock = std::chrono::steady_clock;
using Buffer = std::array<char, ProcessRunner::kReadChunk>;

// Owns one posix_spawn helper object, set up and torn down by its pair of calls.
template <typename T, int (*Init)(T*), int (*Destroy)(T*)>
class SpawnObject {
 public:
  SpawnObject() { ok_ = Init(&value_) == 0; }
  SpawnObject(const SpawnObject&) = delete;
  SpawnObject& operator=(const SpawnObject&) = delete;
  ~SpawnObject() {
    if (ok_) Destroy(&value_);
  }
  bool ok() const { return ok_; }
  T* get() { return &value_; }

 private:
  T value_{};
  bool ok_ = false;
};

using SpawnFileActions = SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init,
                                     posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

// The running child, leader of its own process group, so that it and everything it starts
// can be ended together. Its end is first only observed (the zombie keeps its pid, and so the
// group's id, from being reused); the group is killed and then the leader reaped, exactly once.
// If the runner leaves early by an exception, the destructor does both.
class Child {
 public:
  explicit Child(pid_t pid) noexcept : pid_(pid) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (!reaped_) {
      killTree();
      reap();
    }
  }

  // True once the child has ended; it is left unreaped.
  bool ended() noexcept {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      return errno == ECHILD;  // not ours to wait for any more
    }
    return info.si_pid == pid_;
  }

  // SIGKILL to the whole group: the child, if it still runs, and every descendant that stayed in
  // it; the child once more by its own id, which alone must never be missed. Safe only while the
  // child is unreaped.
  void killTree() noexcept {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
  }

  void reap() noexcept {
    int status = 0;
    pid_t done;
    do {
      done = ::waitpid(pid_, &status, 0);
    } while (done < 0 && errno == EINTR);
    reaped_ = true;
    if (done != pid_) return;  // ECHILD: the exit code stays 1
    if (WIFEXITED(status)) {
      exitCode_ = static_cast<std::uint32_t>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      exitCode_ = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    }
  }

  // The exit status; a child ended by a signal reports 128 + the signal, as shells do.
  std::uint32_t exitCode() const { return exitCode_; }

 private:
  pid_t pid_;
  bool reaped_ = false;
  std::uint32_t exitCode_ = 1;
};

// Starts the child with stdout and stderr on writeFd, every other descriptor but standard input
// closed (posix_spawn_file_actions_addclosefrom_np, glibc 2.34 and later: even one another thread
// opened without close-on-exec must not reach Spine), the working directory set in the child
// (addchdir_np, glibc 2.29 and later) and a process group of its own.
// glibc's posix_spawn reports a failed chdir or exec as its return value, so a missing or
// non-executable program is an error here rather than a child that exits with 127.
pid_t spawnChild(const std::string& executable, const std::vector<std::string>& arguments,
                 const std::filesystem::path& workingDirectory, int writeFd) {
  std::vector<std::string> argvText;
  argvText.reserve(arguments.size() + 1);
  argvText.push_back(executable);
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(argvText.size() + 1);
  for (auto& text : argvText) argv.push_back(text.data());
  argv.push_back(nullptr);

  SpawnFileActions actions;
  SpawnAttributes attributes;
  if (!actions.ok() || !attributes.ok()) throw std::runtime_error(process_capture::kStartFailed);
  bool prepared = posix_spawn_file_actions_adddup2(actions.get(), writeFd, STDOUT_FILENO) == 0 &&
                  posix_spawn_file_actions_adddup2(actions.get(), writeFd, STDERR_FILENO) == 0;
  prepared = prepared && posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1) == 0;
  if (prepared && !workingDirectory.empty()) {
    prepared = posix_spawn_file_actions_addchdir_np(actions.get(), workingDirectory.c_str()) == 0;
  }
  // The child starts with no blocked signals and the usual dispositions, whatever this process
  // (a service that may block or ignore them) has set.
  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, signal);
  const short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
  prepared = prepared && posix_spawnattr_setflags(attributes.get(), flags) == 0 &&
             posix_spawnattr_setpgroup(attributes.get(), 0) == 0 &&
             posix_spawnattr_setsigmask(attributes.get(), &noSignals) == 0 &&
             posix_spawnattr_setsigdefault(attributes.get(), &defaults) == 0;
  if (!prepared) throw std::runtime_error(process_capture::kStartFailed);

  // The child changes directory before it runs the program, so a relative path is made absolute
  // here, against the connector's own directory, as Windows process creation finds it.
  std::filesystem::path program(executable);
  if (!program.empty() && program.is_relative()) {
    std::error_code error;
    program = std::filesystem::absolute(program, error);
    if (error) throw std::runtime_error(process_capture::kStartFailed);
  }
  pid_t pid = -1;
  if (::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(),
                    environ) != 0) {
    throw std::runtime_error(process_capture::kStartFailed);
  }
  return pid;
}

// Reads everything waiting now, in chunks of at most kReadChunk, without blocking.
// Returns false once every write end is closed and the pipe is empty.
bool readWaiting(int fd, std::string& output, Buffer& buffer) {
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) != 0) waiting = 0;
  // With nothing reported, one read still tells an empty pipe from a closed one.
  std::size_t left = waiting > 0 ? static_cast<std::size_t>(waiting) : buffer.size();
  while (left > 0) {
    const ssize_t n = ::read(fd, buffer.data(), std::min(left, buffer.size()));
    if (n > 0) {
      process_capture::appendCapped(output, buffer.data(), static_cast<std::size_t>(n));
      left -= std::min(left, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return false;
    } else if (errno != EINTR) {
      break;  // EAGAIN: nothing more waits
    }
  }
  return true;
}

// After the child's end: what is already in the pipe, until nothing waits, the cap is reached or
// the time is up (a descendant may still hold the pipe open and keep writing).
void drainAfterEnd(int fd, std::string& output, Buffer& buffer) {
  const auto stop = Clock::now() + process_capture::kDrainAfterEnd;
  while (output.size() < ProcessRunner::kOutputCap && Clock::now() < stop) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n > 0) {
      process_capture::appendCapped(output, buffer.data(), static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return;
    }
  }
}

// Sleeps one pass, waking early when output arrives (fd < 0: just sleep).
void waitPass(int fd) {
  pollfd entry{fd, POLLIN, 0};
  ::poll(&entry, 1, static_cast<int>(process_capture::kPassWait.count()));
}

}  // namespace

ProcessResult ProcessRunner::run(const std::string& executable,
                                 const std::vector<std::string>& arguments,
                                 const std::filesystem::path& workingDirectory,
                                 std::stop_token stop) const {
  ProcessResult result;
  if (stop.stop_requested()) {
    result.cancelled = true;
    return result;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(process_capture::kPipeFailed);
  UniqueFd readEnd(fds[0]);
  UniqueFd writeEnd(fds[1]);
  const int flags = ::fcntl(readEnd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(readEnd.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    throw std::runtime_error(process_capture::kPipeFailed);
  }

  const pid_t pid = spawnChild(executable, arguments, workingDirectory, writeEnd.get());
  writeEnd.reset();  // the child holds the only write end now, so its end shows as end of data
  Child child(pid);

  const auto deadline = Clock::now() + timeout_;
  Buffer buffer;
  bool pipeOpen = true;
  for (;;) {
    if (pipeOpen) pipeOpen = readWaiting(readEnd.get(), result.output, buffer);
    if (child.ended()) break;
    if (stop.stop_requested()) {
      result.cancelled = true;
      break;
    }
    if (Clock::now() >= deadline) {
      result.timedOut = true;
      break;
    }
    waitPass(pipeOpen ? readEnd.get() : -1);
  }
  // Whatever is left of the tree ends with the run; the pipe then closes unless a descendant left
  // the group, which the drain's own limit covers.
  child.killTree();
  if (pipeOpen) drainAfterEnd(readEnd.get(), result.output, buffer);
  child.reap();
  result.exitCode = result.timedOut || result.cancelled ? 1u : child.exitCode();
  return result;
}

}  // namespace connector
