#pragma once
// Looking at processes and handles from a test: was a child's tree really ended, and did a
// handle reach a child that should not have it.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace connector::test {

// True while a process with this decimal id runs; a process that has ended but was not yet
// reaped by its parent counts as ended.
bool processRunning(const std::string& pid);
// True once the process has ended, waiting for it up to `limit`.
bool processEndsWithin(const std::string& pid, std::chrono::milliseconds limit);
// Ends the process if it still runs; for clean-up after a failed expectation.
void killProcess(const std::string& pid);

// A file opened for reading with a handle (Windows) or descriptor (POSIX) that child processes
// would inherit unless the starter prevents it; closed on destruction.
class InheritableProbe {
 public:
  explicit InheritableProbe(const std::filesystem::path& file);
  ~InheritableProbe();
  InheritableProbe(const InheritableProbe&) = delete;
  InheritableProbe& operator=(const InheritableProbe&) = delete;
  bool valid() const;
  // The handle's or descriptor's value in decimal, as the test launcher's "--probe" takes it.
  std::string value() const;

 private:
  std::intptr_t handle_;
};

}  // namespace connector::test
