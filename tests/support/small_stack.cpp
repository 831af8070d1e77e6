#include "support/small_stack.hpp"

#include <cstdint>
#include <exception>
#include <stdexcept>

namespace connector::test {
namespace {

constexpr unsigned char kPaint = 0xA5;
// Left unpainted at the far end: guard pages, the thread's own data and the frames of a signal.
constexpr std::size_t kUnpainted = 32 * 1024;

struct Job {
  const std::function<void()>* body;
  std::size_t stackBytes;
  bool measure;
  std::exception_ptr error;
  std::size_t used = 0;
  bool returned = false;
};

struct Area {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
};

// Fills the stack below this frame; what is filled stays below the frames that follow it.
[[gnu::noinline]] Area paintFreeStack(std::size_t bytes) {
  auto* area = static_cast<volatile unsigned char*>(__builtin_alloca(bytes));
  for (std::size_t i = 0; i < bytes; ++i) area[i] = kPaint;
  const auto low = reinterpret_cast<std::uintptr_t>(area);
  return {low, low + bytes};
}

// Reads stack that belongs to no live frame: the sanitizer would take that for a fault.
[[gnu::noinline, gnu::no_sanitize_address]] std::size_t usedOf(Area area) {
  const auto* bytes = reinterpret_cast<const volatile unsigned char*>(area.low);
  std::size_t untouched = 0;
  while (area.low + untouched < area.high && bytes[untouched] == kPaint) ++untouched;
  return area.high - area.low - untouched;
}

void runJob(void* argument) {
  Job& job = *static_cast<Job*>(argument);
  const std::size_t painted = job.stackBytes > 2 * kUnpainted ? job.stackBytes - 2 * kUnpainted : 0;
  const Area area = paintFreeStack(job.measure ? painted : 0);
  try {
    (*job.body)();
  } catch (...) {
    job.error = std::current_exception();
  }
  job.used = usedOf(area);
  job.returned = true;
}

std::size_t run(const std::function<void()>& body, std::size_t stackBytes, bool measure) {
  Job job{&body, stackBytes, measure, nullptr};
  runOnThreadWithStack(runJob, &job, stackBytes);
  if (job.error) std::rethrow_exception(job.error);
  // Wine ends only the thread when its stack overflows.
  if (!job.returned)
    throw std::runtime_error("the thread with the small stack ended before its body");
  return job.used;
}

}  // namespace

void runOnSmallStack(const std::function<void()>& body, std::size_t stackBytes) {
  run(body, stackBytes, false);
}

std::size_t stackUsedBy(const std::function<void()>& body, std::size_t stackBytes) {
  return run(body, stackBytes, true);
}

}  // namespace connector::test
