#include "platform/child_process.hpp"

#include "platform/busy_retry.hpp"

namespace connector {
namespace {

constexpr std::chrono::milliseconds kTreeGoneLimit{5000};
constexpr std::chrono::milliseconds kTreeGonePause{10};

}  // namespace

bool waitUntilTreeGone(const std::function<std::optional<std::uint32_t>()>& activeProcesses,
                       const std::function<void(std::chrono::milliseconds)>& pause) {
  const auto attempt = [&activeProcesses] {
    const std::optional<std::uint32_t> active = activeProcesses();
    if (!active) return Attempt::Failed;  // the system cannot count them: no point waiting
    return *active == 0 ? Attempt::Done : Attempt::Busy;
  };
  const int tries = static_cast<int>(kTreeGoneLimit / kTreeGonePause) + 1;  // the first and more
  return retryWhileBusy(attempt, {tries, kTreeGonePause}, pause) == Attempt::Done;
}

}  // namespace connector
