#include "platform/process_runner.hpp"

#include <array>
#include <cstdint>

#include "platform/child_process.hpp"
#include "platform/process_capture.hpp"

namespace connector {
namespace {

using Clock = std::chrono::steady_clock;
using Buffer = std::array<char, ProcessRunner::kReadChunk>;

// A child that writes without pause must still let the loop look at its deadline and stop flag.
constexpr int kChunksPerPass = 16;

// Reads what waits now; pipeOpen turns false at the end of data. True when something was read.
bool readPass(ChildProcess& child, std::string& output, Buffer& buffer, bool& pipeOpen) {
  bool readSomething = false;
  for (int chunk = 0; pipeOpen && chunk < kChunksPerPass; ++chunk) {
    const ChildProcess::Read read = child.readWaiting(buffer);
    process_capture::appendCapped(output, buffer.data(), read.bytes);
    if (read.closed) pipeOpen = false;
    if (read.bytes == 0) break;
    readSomething = true;
  }
  return readSomething;
}

// After the child's end: what is already in the pipe, until nothing waits, the cap is reached or
// the time is up (a descendant that left the tree may still hold the pipe open and keep writing).
void drainAfterEnd(ChildProcess& child, std::string& output, Buffer& buffer, bool pipeOpen) {
  const auto stop = Clock::now() + process_capture::kDrainAfterEnd;
  while (pipeOpen && output.size() < ProcessRunner::kOutputCap && Clock::now() < stop) {
    const ChildProcess::Read read = child.readWaiting(buffer);
    process_capture::appendCapped(output, buffer.data(), read.bytes);
    if (read.closed || read.bytes == 0) return;
  }
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
  ChildProcess child(executable, arguments, workingDirectory);

  const auto deadline = Clock::now() + timeout_;
  Buffer buffer;
  bool pipeOpen = true;
  for (;;) {
    // While output flows, look again at once; only an idle pass waits the full pass time.
    const bool readSomething = readPass(child, result.output, buffer, pipeOpen);
    const auto wait = readSomething ? std::chrono::milliseconds(0) : process_capture::kPassWait;
    if (child.waitEnded(wait)) break;
    if (stop.stop_requested()) {
      result.cancelled = true;
      break;
    }
    if (Clock::now() >= deadline) {
      result.timedOut = true;
      break;
    }
  }
  // The whole tree ends with the run: on time-out or stop the child, and after the child's own
  // end whatever it left running. The pipe then closes unless a descendant left the tree, which
  // the drain's own limit covers.
  child.endTree();
  drainAfterEnd(child, result.output, buffer, pipeOpen);
  const std::uint32_t exitCode = child.exitCode();
  // A child ended by the runner failed, whatever code its ending left.
  result.exitCode = result.timedOut || result.cancelled ? 1u : exitCode;
  return result;
}

}  // namespace connector
