#pragma once
// Runs one child program hidden, with stdout+stderr merged into one captured buffer and a time-out.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/process_capture.hpp"

namespace connector {

struct ProcessResult {
  std::uint32_t exitCode = 1;
  bool timedOut = false;
  bool cancelled = false;  // the caller asked to stop before the child ended
  std::string output;      // raw bytes, capped near kOutputCap
};

class ProcessRunner {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{180'000};
  static constexpr std::size_t kReadChunk = process_capture::kReadChunk;
  static constexpr std::size_t kOutputCap = process_capture::kOutputCap;

  explicit ProcessRunner(std::chrono::milliseconds timeout = kDefaultTimeout) : timeout_(timeout) {}

  // Throws std::runtime_error("无法创建 Spine 输出管道") or
  // std::runtime_error("无法启动 Spine.com，请检查路径和权限"). An empty workingDirectory
  // means the connector's own; a relative executable is found from the connector's own.
  // The child and everything it starts end before run returns: on time-out, on a stop request
  // (then `cancelled` is set; seen within one poll wait) and after the child's own end. Only the
  // output pipe and the connector's standard input reach the child.
  ProcessResult run(const std::string& executable, const std::vector<std::string>& arguments,
                    const std::filesystem::path& workingDirectory, std::stop_token stop = {}) const;

 private:
  std::chrono::milliseconds timeout_;
};

}  // namespace connector
