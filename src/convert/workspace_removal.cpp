#include "convert/workspace_removal.hpp"

#include <thread>

#include "platform/busy_retry.hpp"

namespace connector::workspace_removal {
namespace {

using workspace_files::RemoveOutcome;

constexpr std::chrono::milliseconds kRetryPause{25};
constexpr std::chrono::milliseconds kRetryLimit{1000};

using workspace_files::FolderWalk;

// A folder the walk is in: its name in the folder above, and its sub-folders still to enter.
struct Level {
  FolderWalk::Name name;
  std::vector<FolderWalk::Name> folders;
};

// Removes everything but the sub-folders in the walk's folder, and gives those. A link (symbolic
// link, junction) is removed itself: what it points to lies outside.
std::vector<FolderWalk::Name> clearFiles(FolderWalk& walk, bool& held) {
  std::vector<FolderWalk::Name> folders;
  for (FolderWalk::Name& name : walk.names()) {
    if (walk.kind(name) == workspace_files::EntryKind::directory) {
      folders.push_back(std::move(name));
    } else if (walk.remove(name) == RemoveOutcome::busy) {
      held = true;
    }
  }
  return folders;
}

// Depth-first, files before their folder, and every error skipped so the rest still goes. The
// walk goes down and up one level at a time and keeps only the names still to visit, so neither
// the stack nor the cost of a level grows with the depth. `held` turns true when an entry could
// not go for now only.
void removeTree(const std::filesystem::path& path, bool& held) noexcept {
  try {
    if (workspace_files::entryKind(path) == workspace_files::EntryKind::directory) {
      FolderWalk walk(path);
      std::vector<Level> levels;
      if (walk.ready()) levels.push_back({{}, clearFiles(walk, held)});
      while (!levels.empty()) {
        if (!levels.back().folders.empty()) {
          FolderWalk::Name name = std::move(levels.back().folders.back());
          levels.back().folders.pop_back();
          if (walk.enter(name)) {
            levels.push_back({std::move(name), clearFiles(walk, held)});
          } else if (walk.remove(name) == RemoveOutcome::busy) {
            held = true;
          }
          continue;
        }
        const FolderWalk::Name name = std::move(levels.back().name);
        levels.pop_back();
        if (levels.empty()) break;
        if (!walk.leave()) return;  // moved away meanwhile: what is left stays
        if (walk.remove(name) == RemoveOutcome::busy) held = true;
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
