#include "platform/child_process.hpp"

namespace connector {
namespace {

constexpr std::chrono::milliseconds kTreeGoneLimit{5000};
constexpr std::chrono::milliseconds kTreeGonePause{10};

}  // namespace

bool waitUntilTreeGone(const std::function<std::optional<std::uint32_t>()>& activeProcesses,
                       const std::function<void(std::chrono::milliseconds)>& pause) {
  std::chrono::milliseconds waited{0};
  for (;;) {
    const std::optional<std::uint32_t> active = activeProcesses();
    if (!active) return false;
    if (*active == 0) return true;
    if (waited >= kTreeGoneLimit) return false;
    pause(kTreeGonePause);
    waited += kTreeGonePause;
  }
}

}  // namespace connector
