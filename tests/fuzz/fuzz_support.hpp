#pragma once
// Shared pieces of the libFuzzer targets: a small stack for each input, a byte source that hands
// the input out in chunks of varying size, a private temporary folder, and a check that stops the
// run with a message.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include <unistd.h>

#include "http/byte_stream.hpp"
#include "support/small_stack.hpp"

namespace connector::fuzz {

// Every input runs on a thread with this much stack, so that stack use that grows with the input
// shows as a crash (CMake sets it: 256 KiB in the plain build that replays the corpus; the
// sanitizers' frames are several times larger, so the fuzzing build gives the same depth the
// room it takes there).
inline constexpr std::size_t kStackBytes = GLIMMER_FUZZ_STACK_BYTES;

// One thread with that stack runs the inputs one after the other: a thread started per input would
// cost more than most inputs do. It lives as long as the process.
class SmallStackWorker {
 public:
  SmallStackWorker()
      : owner_(
            [this] { test::runOnThreadWithStack(&SmallStackWorker::serve, this, kStackBytes); }) {
    owner_.detach();
  }

  void run(const std::function<void()>& body) {
    std::unique_lock lock(mutex_);
    job_ = &body;
    changed_.notify_all();
    changed_.wait(lock, [this] { return job_ == nullptr; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  static void serve(void* self) { static_cast<SmallStackWorker*>(self)->serve(); }

  [[noreturn]] void serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return job_ != nullptr; });
      try {
        (*job_)();
      } catch (...) {
        error_ = std::current_exception();
      }
      job_ = nullptr;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void()>* job_ = nullptr;
  std::exception_ptr error_;
  std::thread owner_;  // waits for the worker, which never ends
};

inline void onSmallStack(const std::function<void()>& body) {
  static SmallStackWorker* const worker = new SmallStackWorker;
  worker->run(body);
}

// An invariant that failed: libFuzzer keeps the input as a crash reproducer.
[[noreturn]] inline void violated(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant violated: %s [%.*s]\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

inline void check(bool condition, const char* what, std::string_view detail = {}) {
  if (!condition) violated(what, detail);
}

// Receives that return pseudo-random chunk sizes chosen by a seed byte: 0 hands out as much as
// the caller asks for, anything else gives 1 .. 1 + seed * 32 bytes per call, so the parser sees
// a request split at every kind of boundary.
class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(std::string_view bytes, std::uint8_t seed)
      : bytes_(bytes), seed_(seed), state_(seed) {}

  long receive(char* buffer, std::size_t size) override {
    if (bytes_.empty()) return 0;
    std::size_t count = std::min(size, bytes_.size());
    if (seed_ != 0) {
      state_ = state_ * 1103515245u + 12345u;
      count = std::min<std::size_t>(count, 1 + (state_ >> 16) % (1u + seed_ * 32u));
    }
    std::memcpy(buffer, bytes_.data(), count);
    bytes_.remove_prefix(count);
    return static_cast<long>(count);
  }

 private:
  std::string_view bytes_;
  std::uint8_t seed_;
  std::uint32_t state_;
};

// A folder of this process under the system temporary folder, created once and kept for the run.
inline const std::filesystem::path& privateFolder(std::string_view name) {
  static const std::filesystem::path folder = [&] {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("glimmer-fuzz-" + std::string(name) + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

inline bool isEmptyFolder(const std::filesystem::path& path) {
  return std::filesystem::is_directory(path) &&
         std::filesystem::directory_iterator(path) == std::filesystem::directory_iterator();
}

// True when path, taken lexically, names base itself or something below it.
inline bool staysInside(const std::filesystem::path& base, const std::filesystem::path& path) {
  const std::filesystem::path relative = path.lexically_normal().lexically_relative(base);
  return !relative.empty() && *relative.begin() != "..";
}

}  // namespace connector::fuzz
