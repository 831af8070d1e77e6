#pragma once
// The messages and limits of running a child and collecting its output, shared by the run loop
// and each OS's child.
#include <chrono>
#include <cstddef>
#include <string>

namespace connector::process_capture {

constexpr const char* kPipeFailed = "无法创建 Spine 输出管道";
constexpr const char* kStartFailed = "无法启动 Spine.com，请检查路径和权限";

// Output is read in chunks of kReadChunk and kept up to about kOutputCap bytes.
constexpr std::size_t kReadChunk = 8192;
constexpr std::size_t kOutputCap = 4'194'304;

// How long one pass waits for the child to end (or, on POSIX, for output) when nothing was read.
constexpr std::chrono::milliseconds kPassWait{20};
// After the child has ended, what already waits in the pipe is still read for at most this long:
// descendants that keep the pipe open and keep writing must not hold the runner.
constexpr std::chrono::seconds kDrainAfterEnd{2};

// The cap is tested before each append, so output ends at most one chunk past it.
inline void appendCapped(std::string& output, const char* bytes, std::size_t count) {
  if (count > 0 && output.size() < kOutputCap) output.append(bytes, count);
}

}  // namespace connector::process_capture
