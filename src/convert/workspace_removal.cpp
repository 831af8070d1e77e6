#include "convert/workspace_removal.hpp"

#include <thread>

#include "platform/busy_retry.hpp"

namespace connector::workspace_removal {
namespace {

using workspace_files::RemoveOutcome;

constexpr std::chrono::milliseconds kRetryPause{25};
constexpr std::chrono::milliseconds kRetryLimit{1000};

// Depth-first, files before their folder, and every error skipped so the rest still goes.
// A link inside (symbolic link, junction) is removed itself: what it points to lies outside.
// `held` turns true when an entry could not go for now only.
void removeTree(const std::filesystem::path& path, bool& held) noexcept {
  try {
    if (workspace_files::entryKind(path) == workspace_files::EntryKind::directory) {
      for (const std::filesystem::path& entry : workspace_files::directoryEntries(path)) {
        removeTree(entry, held);
      }
    }
    if (workspace_files::removeEntry(path) == RemoveOutcome::busy) held = true;
  } catch (...) {
    // Out of memory while walking: leave the rest behind rather than fail.
  }
}

RemoveOutcome removalPass(const std::filesystem::path& directory) noexcept {
  bool held = false;
  removeTree(directory, held);
  if (workspace_files::entryKind(directory) == workspace_files::EntryKind::missing) {
    return RemoveOutcome::removed;
  }
  return held ? RemoveOutcome::busy : RemoveOutcome::failed;
}

}  // namespace

bool removeWithRetries(const std::function<RemoveOutcome()>& pass,
                       const std::function<void(std::chrono::milliseconds)>& pause) {
  const auto attempt = [&pass] {
    switch (pass()) {
      case RemoveOutcome::removed:
        return Attempt::Done;
      case RemoveOutcome::busy:
        return Attempt::Busy;
      case RemoveOutcome::failed:
        break;
    }
    return Attempt::Failed;
  };
  const int tries = static_cast<int>(kRetryLimit / kRetryPause) + 1;  // the first and 40 more
  return retryWhileBusy(attempt, {tries, kRetryPause}, pause) == Attempt::Done;
}

void removeWorkspace(const std::filesystem::path& directory) noexcept {
  try {
    removeWithRetries([&directory] { return removalPass(directory); },
                      [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); });
  } catch (...) {
    // A failed sleep: what is left stays behind.
  }
}

}  // namespace connector::workspace_removal
