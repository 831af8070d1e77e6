#pragma once
// Removing a workspace: one walk over the tree that removes what it can, again while what is left
// is only held for a moment by another program (Windows: a scanner, a process still ending).
// Removal never fails: what cannot go stays behind.
#include <chrono>
#include <filesystem>
#include <functional>

#include "convert/workspace_files.hpp"

namespace connector::workspace_removal {

// Runs `pass` until it reports the tree removed, pausing between two passes while it reports
// only held entries (busy), for about a second of pauses in all; a pass that reports an entry
// that cannot go (failed) ends it at once. True when the tree is gone.
bool removeWithRetries(const std::function<workspace_files::RemoveOutcome()>& pass,
                       const std::function<void(std::chrono::milliseconds)>& pause);

// The workspace and everything in it, links removed themselves and never followed.
void removeWorkspace(const std::filesystem::path& directory) noexcept;

}  // namespace connector::workspace_removal
