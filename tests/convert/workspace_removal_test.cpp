#include "convert/workspace_removal.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>

#include "convert/workspace_files.hpp"

namespace connector {
namespace {

using std::chrono::milliseconds;
using workspace_files::RemoveOutcome;

// A workspace whose entries another program holds until the removal has paused for `heldFor`
// (for ever, without a value), or that holds an entry no wait removes.
struct HeldWorkspace {
  std::optional<milliseconds> heldFor;
  bool stuck = false;
  milliseconds paused{0};
  int passes = 0;

  RemoveOutcome pass() {
    ++passes;
    if (stuck) return RemoveOutcome::failed;
    return heldFor && paused >= *heldFor ? RemoveOutcome::removed : RemoveOutcome::busy;
  }
};

TEST(WorkspaceRemoval, RetriesWhileSomethingIsHeldForAboutASecond) {
  struct Case {
    const char* name;
    HeldWorkspace workspace;
    bool removed;
  };
  const Case cases[] = {
      {"nothing held", {milliseconds(0)}, true},
      {"a scanner's moment", {milliseconds(150)}, true},
      {"a process still ending", {milliseconds(800)}, true},
      {"held for ever", {std::nullopt}, false},
      {"an entry no wait removes", {std::nullopt, true}, false},
  };
  for (const auto& c : cases) {
    HeldWorkspace workspace = c.workspace;
    const bool removed = workspace_removal::removeWithRetries(
        [&workspace] { return workspace.pass(); },
        [&workspace](milliseconds pause) { workspace.paused += pause; });
    EXPECT_EQ(removed, c.removed) << c.name;
    if (c.removed) {
      EXPECT_LE(workspace.paused, *c.workspace.heldFor + milliseconds(100)) << c.name;
    } else if (c.workspace.stuck) {
      EXPECT_EQ(workspace.passes, 1) << c.name << ": waiting does not help";
    } else {
      EXPECT_GE(workspace.paused, milliseconds(750)) << c.name;
      EXPECT_LE(workspace.paused, milliseconds(1250)) << c.name;
    }
  }
}

// What Windows says when an entry cannot go: a holder that lets go soon, or a lasting refusal.
TEST(WorkspaceRemoval, WindowsErrorsOfAHolderAreWaitedForAndOthersAreNot) {
  struct Case {
    std::uint32_t error;
    RemoveOutcome outcome;
  };
  const Case cases[] = {
      {2, RemoveOutcome::removed},    // ERROR_FILE_NOT_FOUND: already gone
      {3, RemoveOutcome::removed},    // ERROR_PATH_NOT_FOUND
      {5, RemoveOutcome::busy},       // ERROR_ACCESS_DENIED: also a file whose deletion is pending
      {32, RemoveOutcome::busy},      // ERROR_SHARING_VIOLATION
      {33, RemoveOutcome::busy},      // ERROR_LOCK_VIOLATION
      {145, RemoveOutcome::busy},     // ERROR_DIR_NOT_EMPTY: an entry inside is pending deletion
      {303, RemoveOutcome::busy},     // ERROR_DELETE_PENDING
      {19, RemoveOutcome::failed},    // ERROR_WRITE_PROTECT
      {123, RemoveOutcome::failed},   // ERROR_INVALID_NAME
      {1392, RemoveOutcome::failed},  // ERROR_FILE_CORRUPT
  };
  for (const auto& c : cases) {
    EXPECT_EQ(workspace_files::removeOutcomeFromWindowsError(c.error), c.outcome) << c.error;
  }
}

}  // namespace
}  // namespace connector
