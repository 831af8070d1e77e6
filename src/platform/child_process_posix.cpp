#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "platform/child_process.hpp"
#include "platform/process_capture.hpp"
#include "platform/unique_fd.hpp"

extern char** environ;

namespace connector {
namespace {

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
using SpawnAttributes =
    SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

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
  prepared =
      prepared && posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1) == 0;
  if (prepared && !workingDirectory.empty()) {
    prepared = posix_spawn_file_actions_addchdir_np(actions.get(), workingDirectory.c_str()) == 0;
  }
  // The child starts with no blocked signals and the usual dispositions, whatever this process
  // (a service that may block or ignore them) has set.
  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD})
    sigaddset(&defaults, signal);
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
  if (::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ) !=
      0) {
    throw std::runtime_error(process_capture::kStartFailed);
  }
  return pid;
}

}  // namespace

// The child leads its own process group, so that it and everything it starts can be ended
// together. Its end is first only observed (the zombie keeps its pid, and so the group's id, from
// being reused); the group is killed and then the leader reaped, exactly once. If the runner
// leaves early by an exception, the destructor does both.
struct ChildProcess::System {
  UniqueFd readEnd;
  pid_t pid = -1;
  bool pipeClosed = false;
  bool reaped = false;
  std::uint32_t exitCode = 1;

  System() = default;
  System(const System&) = delete;
  System& operator=(const System&) = delete;
  ~System() {
    if (pid > 0 && !reaped) {
      killTree();
      reap();
    }
  }

  // True once the child has ended; it is left unreaped.
  bool ended() noexcept {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      return errno == ECHILD;  // not ours to wait for any more
    }
    return info.si_pid == pid;
  }

  // SIGKILL to the whole group: the child, if it still runs, and every descendant that stayed in
  // it; the child once more by its own id, which alone must never be missed. Safe only while the
  // child is unreaped.
  void killTree() noexcept {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }

  // The exit status; a child ended by a signal reports 128 + the signal, as shells do.
  void reap() noexcept {
    int status = 0;
    pid_t done;
    do {
      done = ::waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    reaped = true;
    if (done != pid) return;  // ECHILD: the exit code stays 1
    if (WIFEXITED(status)) {
      exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      exitCode = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    }
  }
};

ChildProcess::ChildProcess(const std::string& executable, const std::vector<std::string>& arguments,
                           const std::filesystem::path& workingDirectory)
    : system_(std::make_unique<System>()) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(process_capture::kPipeFailed);
  system_->readEnd.reset(fds[0]);
  UniqueFd writeEnd(fds[1]);
  const int flags = ::fcntl(fds[0], F_GETFL);
  if (flags < 0 || ::fcntl(fds[0], F_SETFL, flags | O_NONBLOCK) != 0) {
    throw std::runtime_error(process_capture::kPipeFailed);
  }
  system_->pid = spawnChild(executable, arguments, workingDirectory, writeEnd.get());
  // The child holds the only write end now, so its end (and its descendants') shows as end of data.
}

ChildProcess::~ChildProcess() = default;

ChildProcess::Read ChildProcess::readWaiting(std::span<char> buffer) {
  if (system_->pipeClosed) return Read{0, true};
  for (;;) {
    const ssize_t n = ::read(system_->readEnd.get(), buffer.data(), buffer.size());
    if (n > 0) return Read{static_cast<std::size_t>(n), false};
    if (n == 0) {
      system_->pipeClosed = true;
      return Read{0, true};
    }
    if (errno != EINTR) return Read{};  // EAGAIN: nothing waits
  }
}

bool ChildProcess::waitEnded(std::chrono::milliseconds limit) {
  if (system_->ended()) return true;
  if (limit.count() <= 0) return false;
  // Output wakes the wait early; once the pipe is closed it is a plain sleep (fd < 0).
  pollfd entry{system_->pipeClosed ? -1 : system_->readEnd.get(), POLLIN, 0};
  ::poll(&entry, 1, static_cast<int>(limit.count()));
  return system_->ended();
}

void ChildProcess::endTree() {
  if (!system_->reaped) system_->killTree();
}

std::uint32_t ChildProcess::exitCode() {
  if (!system_->reaped) system_->reap();
  return system_->exitCode;
}

}  // namespace connector
